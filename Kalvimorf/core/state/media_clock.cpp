#include "core/state/media_clock.h"

#include <chrono>

namespace MediaClock {

double now()
{
    if (auto source = Source::shared())
        return source->now();
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

}
