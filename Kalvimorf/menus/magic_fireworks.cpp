#include "menus/magic_fireworks.h"

#include "menus/drawing_kit.h"
#include "menus/sparkle.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace MagicFireworks {

namespace {
double radians(double degrees) { return degrees * std::numbers::pi / 180; }

// A pop with overshoot, a fading wobble, then a shrink to nothing.
double starScale(double t)
{
    if (t < 0.3)
        return Draw::easeOutBack(t / 0.3);
    if (t < 1.3)
        return 1 + 0.06 * (1.3 - t) * std::sin(9 * (t - 0.3));
    const double k = Draw::clamp01((t - 1.3) / 0.8);
    return 1 - k * k;
}
}

const std::array<Bit, 32>& bits()
{
    static const auto table = [] {
        std::array<Bit, 32> rows{};
        size_t n = 0;
        for (int i = 0; i < 14; ++i)
            rows[n++] = {i * 360.0 / 14 + (i % 2 == 0 ? 6 : -4), i % 3 == 0 ? 132.0 : 116.0, i % 2 == 0 ? 16.0 : 11.0,
                0.05, i % 3 != 1};
        for (int i = 0; i < 10; ++i)
            rows[n++] = {36.0 * i + 18, 82, 10, 0.22, i % 2 == 0};
        for (int i = 0; i < 8; ++i)
            rows[n++] = {8 + 45.0 * i, 48, 7, 0.42, i % 2 == 1};
        return rows;
    }();
    return table;
}

QColor gold() { return QColor(245, 197, 66); }

Frame frame(double t, QSizeF canvas)
{
    Frame result;
    if (t >= duration)
        return result;
    result.empty = false;
    const QPointF c(canvas.width() / 2, canvas.height() / 2);

    const double size = std::max(starScale(t), 0.0) * 58;
    if (size > 0.5) {
        result.starSize = size;
        result.starRotation = Draw::easeOutCubic(2 * t) * 70 - 70;
    }
    if (const double q = t / 0.7; q < 1) {
        const double u = 1 - std::max(q, 0.0);
        result.ring = Ring{(1 - u * u * u) * 120 + 14, (1 - q) * 0.35};
    }
    for (const auto& bit : bits()) {
        double p = (t - bit.delay) / (duration - bit.delay - 0.1);
        if (p <= 0)
            continue;
        p = std::min(p, 1.0);
        const double travel = std::min(p / 0.6, 1.0);
        const double E = (1 - travel) * (1 - travel) * (1 - travel);
        const double r = (bit.distance - 12) * (1 - E) + 12;
        const double a = radians(bit.angle);
        const QPointF centre = c + QPointF(std::cos(a) * r, std::sin(a) * r + 22 * p * p);
        const double opacity = p >= 0.65 ? 1 - (p - 0.65) / 0.35 : 1;
        const double grow = p < 0.12 ? p / 0.12 : 1 - 0.6 * (p - 0.12) / 0.88;
        // The twinkle takes the angle as a plain number, not in radians.
        const double twinkle = std::sin(26 * t + bit.angle);
        result.particles.push_back(
            {centre, bit.size * (0.8 + 0.2 * twinkle) * grow, (1 - E) * 120, opacity, bit.tinted});
    }
    return result;
}

void paint(QPainter& painter, QSizeF canvas, double t, const QColor& tint)
{
    const Frame f = frame(t, canvas);
    if (f.empty)
        return;
    const QPointF c(canvas.width() / 2, canvas.height() / 2);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    if (f.ring) {
        painter.setPen(QPen(Draw::withAlpha(tint, tint.alphaF() * f.ring->opacity), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(c, f.ring->radius, f.ring->radius);
    }
    auto star = [&](QPointF centre, double size, double rotation, const QColor& colour) {
        painter.save();
        painter.translate(centre);
        painter.rotate(rotation);
        painter.fillPath(Sparkle::path(QRectF(-size / 2, -size / 2, size, size)), colour);
        painter.restore();
    };
    if (f.starSize > 0)
        star(c, f.starSize, f.starRotation, tint);
    for (const auto& particle : f.particles) {
        const QColor colour = particle.tinted ? tint : gold();
        star(particle.centre, particle.size, particle.rotation,
            Draw::withAlpha(colour, colour.alphaF() * particle.opacity));
    }
    painter.restore();
}

}
