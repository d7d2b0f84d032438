#pragma once

#include "core/base/service.h"

// Seconds on a monotonic clock, for key timing, debounces and the pick of a card. Tests install
// a Source of their own; without one the steady clock answers.
namespace MediaClock {
class Source : public Service<Source> {
public:
    virtual ~Source() = default;
    virtual double now() = 0;
};

double now();
}
