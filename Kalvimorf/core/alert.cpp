#include "core/alert.h"

namespace Alert {

namespace {
Presenter& presenter()
{
    static Presenter instance;
    return instance;
}
}

void setPresenter(Presenter replacement)
{
    presenter() = std::move(replacement);
}

int run(const Request& request)
{
    auto& show = presenter();
    return show ? show(request) : -1;
}

}
