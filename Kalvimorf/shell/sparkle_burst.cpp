#include "shell/sparkle_burst.h"

#include "menus/drawing_kit.h"
#include "menus/sparkle.h"

#include <QPainter>

#include <cmath>
#include <numbers>

namespace SparkleBurst {

const std::array<Bit, 11>& bits()
{
    // An outer ring roughly every 45 degrees, then a short inner pair.
    static const std::array<Bit, 11> table{{
        {-80, 30, 7, 0},
        {-30, 33, 5, 0.03},
        {15, 29, 8, 0.01},
        {60, 32, 5, 0.05},
        {105, 30, 6, 0.02},
        {150, 34, 5, 0.04},
        {195, 28, 7, 0.01},
        {240, 33, 5, 0.06},
        {285, 31, 4, 0.08},
        {-55, 20, 4, 0.1},
        {125, 21, 4, 0.11},
    }};
    return table;
}

std::vector<Star> frame(double t)
{
    std::vector<Star> stars;
    if (t >= duration)
        return stars;
    for (const auto& bit : bits()) {
        double p = (t - bit.delay) / (duration - bit.delay);
        if (p <= 0)
            continue;
        p = std::min(p, 1.0);
        const double eased = Draw::easeOutCubic(p);
        const double radius = 9 + (bit.distance - 9) * eased;
        const double grow = p < 0.25 ? 4 * p : 1 - 0.7 * (p - 0.25) / 0.75;
        const double radians = bit.angle * std::numbers::pi / 180;
        stars.push_back({QPointF(std::cos(radians), std::sin(radians)) * radius, bit.size * grow, eased * 90,
            p < 0.6 ? 1 : 1 - (p - 0.6) / 0.4});
    }
    return stars;
}

void paint(QPainter& painter, QPointF centre, double t, const QColor& colour)
{
    for (const auto& star : frame(t)) {
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setOpacity(painter.opacity() * star.opacity);
        painter.translate(centre + star.offset);
        painter.rotate(star.rotation);
        painter.fillPath(Sparkle::path(QRectF(-star.size / 2, -star.size / 2, star.size, star.size)), colour);
        painter.restore();
    }
}

}
