#pragma once

#include "core/state/media_clock.h"

// The start of a burst animation; views measure their time from it, so any frame can be
// recomputed from the clock alone.
struct BurstClock {
    double start = MediaClock::now();
    double elapsed() const { return MediaClock::now() - start; }
};
