#include "core/state/spring_curve.h"

#include <algorithm>
#include <cmath>

namespace {

// Left of the spring's swing: under a thousandth it counts as at rest.
constexpr double rest = 1e-3;

struct Swing {
    double decay;  // per second
    double frequency;  // damped, radians per second; 0 when damped fully
    double bound;  // of the oscillating part, before the decay
};

Swing swing(double response, double dampingFraction)
{
    const double omega = 2 * M_PI / response;
    const double decay = std::min(dampingFraction, 1.0) * omega;
    if (dampingFraction >= 1)
        return {omega, 0, 1};
    const double frequency = omega * std::sqrt(1 - dampingFraction * dampingFraction);
    return {decay, frequency, std::hypot(1.0, decay / frequency)};
}

}

double springSettled(double response, double dampingFraction)
{
    const auto s = swing(response, dampingFraction);
    // A fully damped spring's 1 + ωt factor needs a little more time than the bound says.
    return std::log(s.bound / rest) / s.decay * (s.frequency == 0 ? 1.6 : 1.0);
}

double springProgress(double t, double response, double dampingFraction)
{
    if (t <= 0)
        return 0;
    if (t >= springSettled(response, dampingFraction))
        return 1;
    const auto s = swing(response, dampingFraction);
    const double fade = std::exp(-s.decay * t);
    if (s.frequency == 0)
        return 1 - fade * (1 + s.decay * t);
    return 1 - fade * (std::cos(s.frequency * t) + s.decay / s.frequency * std::sin(s.frequency * t));
}
