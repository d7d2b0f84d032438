#include "core/state/alert.h"

namespace Alert {

int run(const Request& request)
{
    auto presenter = Presenter::shared();
    return presenter ? presenter->ask(request) : -1;
}

void beep()
{
    if (auto presenter = Presenter::shared())
        presenter->beep();
}

}
