#pragma once

// A spring as a function of time, for views painted from the time: how far it has got, `t`
// seconds after its value changed, on its way from 0 to 1 (past 1 for a while when it is damped
// less than fully). `response` is the time of one swing, `dampingFraction` how much of the swing
// is damped (1: no overshoot). Exactly 1 from springSettled() on, so that frames can stop.
double springProgress(double t, double response, double dampingFraction);
double springSettled(double response, double dampingFraction);
