#pragma once

#include <functional>

// Seconds on a monotonic clock, for key timing, debounces and the pick of a card. Tests put a
// clock of their own in its place.
namespace MediaClock {
double now();
// nullptr restores the monotonic clock.
void setSource(std::function<double()> source);
}
