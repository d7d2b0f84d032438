#pragma once

#include "core/base/service.h"

#include <functional>

// A fraction 0…1 of work done; may be called from any thread. An empty one reports nothing.
using Progress = std::function<void(double)>;

// Word that a job's work goes on where no fraction says how far it is: a tool reporting frames
// made, time reached or bytes written. What watches a job for a hang takes it as progress, so
// that a long encode is never taken for a stuck one. The worker installs it for its jobs; with
// nothing installed a beat goes nowhere. Any thread.
class WorkPulse : public Service<WorkPulse> {
public:
    virtual ~WorkPulse() = default;
    virtual void beat() = 0;
    // The installed one's beat, if any.
    static void now()
    {
        if (const auto pulse = shared())
            pulse->beat();
    }
};
