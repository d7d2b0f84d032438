#pragma once

#include <cmath>

// The damped spring the menu animations step at 120 Hz. Callers bound dt themselves.
struct Spring {
    double value = 0;
    double target = 0;
    double velocity = 0;
    double stiffness = 0;
    double damping = 0;

    // Semi-implicit Euler; snaps to rest once close enough, so an animation can stop its timer.
    void step(double dt)
    {
        velocity += dt * (-stiffness * (value - target) - damping * velocity);
        value += dt * velocity;
        if (std::abs(value - target) < 0.0005 && std::abs(velocity) < 0.002) {
            value = target;
            velocity = 0;
        }
    }
    bool atRest() const { return value == target && velocity == 0; }
};
