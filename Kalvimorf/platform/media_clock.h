#pragma once

#include <chrono>

// Seconds on a monotonic clock, for timing key presses and animations.
namespace MediaClock {
inline double now()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}
}
