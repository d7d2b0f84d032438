#include "trim/trim_motion.h"

#include "core/state/media_clock.h"
#include "core/state/spring_curve.h"

#include <algorithm>

namespace TrimMotion {

double selection(double t)
{
    const double x = clamp01(t / 0.18);
    return 1 - (1 - x) * (1 - x);
}

double scissors(double t) { return springProgress(t, 0.3, 0.7); }
double several(double t) { return springProgress(t, 0.35, 0.85); }
double chipActive(double t) { return springProgress(t, 0.3, 0.75); }
double chipList(double t) { return springProgress(t, 0.35, 0.8); }

double settled()
{
    return std::max(
        {0.18, springSettled(0.3, 0.7), springSettled(0.35, 0.85), springSettled(0.3, 0.75), springSettled(0.35, 0.8)});
}

double towards(bool on, double t, double (*curve)(double))
{
    const double p = curve(t);
    return on ? p : 1 - p;
}

double clamp01(double value) { return std::clamp(value, 0.0, 1.0); }

Frames::Frames()
{
    timer_.setInterval(1000 / 120);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &Frames::tick);
}

void Frames::runUntil(double until)
{
    until_ = std::max(until_, until);
    if (!timer_.isActive() && MediaClock::now() < until_)
        timer_.start();
}

void Frames::tick()
{
    // The last frame lands at or after the end, so the view rests drawn at rest.
    if (MediaClock::now() >= until_)
        timer_.stop();
    if (frame_)
        frame_();
}

}
