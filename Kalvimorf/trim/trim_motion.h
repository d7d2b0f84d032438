#pragma once

#include <QObject>
#include <QTimer>

#include <functional>
#include <limits>

// The editor's animations, as functions of the seconds since the value that drives them changed:
// 0 at the change, 1 at rest (the springs swing a little past 1 on the way). The views keep when
// each change began and paint from the time, so any moment of a change can be drawn as a still.
namespace TrimMotion {

// Long before any clock reading: a change at this time is over.
constexpr double longAgo = -std::numeric_limits<double>::infinity();

// A row's selected background: ease-out over 0.18 s.
double selection(double t);
// A row's scissors coming and going: spring of 0.3 s, damping 0.7.
double scissors(double t);
// The ranges bar and "Vários cortes" trading places: spring of 0.35 s, damping 0.85.
double several(double t);
// A chip becoming active or leaving off: spring of 0.3 s, damping 0.75.
double chipActive(double t);
// Chips coming, going and sliding to their places: spring of 0.35 s, damping 0.8.
double chipList(double t);
// Seconds after its change from which each of them is at rest.
double settled();

// `p` of the way towards `on`, from a change that began `t` seconds ago along `curve`: going
// away from `on` is coming towards it backwards.
double towards(bool on, double t, double (*curve)(double));
double clamp01(double value);

// Frames for a view while one of its changes moves: calls `frame` at 120 Hz until the views'
// clock (MediaClock) has passed the moment given.
class Frames : public QObject {
public:
    Frames();
    void onFrame(std::function<void()> frame) { frame_ = std::move(frame); }
    // Keeps the frames coming until `until` at least.
    void runUntil(double until);
    bool running() const { return timer_.isActive(); }

private:
    void tick();

    std::function<void()> frame_;
    QTimer timer_;
    double until_ = longAgo;
};

}
