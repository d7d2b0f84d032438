#pragma once

#include <QColor>
#include <QPointF>

#include <array>
#include <vector>

class QPainter;

// The small firework behind a finished job's star: eleven stars fly out, turn, shrink and fade
// within 0.9 s. A pure function of the time since the burst began, so any frame is a still.
namespace SparkleBurst {

constexpr double duration = 0.9;

struct Bit {
    double angle;  // degrees, clockwise (y grows downwards)
    double distance;  // points from the centre at the end
    double size;  // full star size in points
    double delay;  // seconds
};
const std::array<Bit, 11>& bits();

struct Star {
    QPointF offset;  // from the centre
    double size;
    double rotation;  // degrees, clockwise
    double opacity;
};
// The stars on the canvas `t` seconds in, in painting order; none before a star's delay or from
// 0.9 s on.
std::vector<Star> frame(double t);

void paint(QPainter& painter, QPointF centre, double t, const QColor& colour);

}
