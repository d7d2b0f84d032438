#pragma once

#include "core/base/service.h"

#include <string>
#include <vector>

// Modal questions and the alert sound. The desktop side installs a Presenter; tests answer
// themselves; without one nobody can answer and nothing sounds.
namespace Alert {

struct Request {
    std::string message;
    std::string informative;
    // In order; the first is the default.
    std::vector<std::string> buttons;
};

class Presenter : public Service<Presenter> {
public:
    virtual ~Presenter() = default;
    // Shows the request and answers the index of the chosen button, -1 when none was chosen.
    virtual int ask(const Request& request) = 0;
    // The desktop's short alert sound.
    virtual void beep() { }
};

// Main thread. Without a presenter the answer is -1.
int run(const Request& request);
void beep();

}
