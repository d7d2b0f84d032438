#pragma once

#include <QColor>
#include <QPointF>
#include <QSizeF>

#include <array>
#include <optional>
#include <vector>

class QPainter;

// The celebration firework: a big four-point star pops up, a faint ring expands, and 32 small
// stars fly out, fall a little and fade, all within 2.3 s. Everything is a function of the time
// since the start, so any moment can be drawn as a still.
namespace MagicFireworks {

constexpr double duration = 2.3;

struct Bit {
    double angle;  // degrees, clockwise from +x (y grows downwards)
    double distance;  // points
    double size;  // points
    double delay;  // seconds
    bool tinted;  // else gold
};
// Outer ring (14), middle ring (10), inner ring (8): also the painting order.
const std::array<Bit, 32>& bits();

struct Particle {
    QPointF centre;
    double size;
    double rotation;  // degrees, clockwise
    double opacity;
    bool tinted;
};

struct Ring {
    double radius;
    double opacity;
};

// What is on the canvas at time t, in its own y-down coordinates.
struct Frame {
    bool empty = true;
    double starSize = 0;  // 0 when the big star is not drawn
    double starRotation = 0;  // degrees, clockwise
    std::optional<Ring> ring;
    std::vector<Particle> particles;
};
Frame frame(double t, QSizeF canvas);

QColor gold();
void paint(QPainter& painter, QSizeF canvas, double t, const QColor& tint);

}
