#pragma once

#include <functional>
#include <string>
#include <vector>

// A modal question to the user. The desktop side installs the window; tests answer it themselves.
namespace Alert {

struct Request {
    std::string message;
    std::string informative;
    // In order; the first is the default.
    std::vector<std::string> buttons;
};

// Shows the request and answers the index of the chosen button, -1 when none was chosen.
using Presenter = std::function<int(const Request&)>;
void setPresenter(Presenter presenter);

// Main thread. Without a presenter nobody can answer, and the answer is -1.
int run(const Request& request);

}
