#include "menus/sparkle.h"

#include <algorithm>

namespace Sparkle {

QPainterPath path(const QRectF& rect)
{
    const double cx = rect.center().x(), cy = rect.center().y();
    const double r = std::min(rect.width(), rect.height()) / 2;
    auto at = [&](double dx, double dy) {
        return QPointF(cx + dx * r, cy + dy * r);
    };
    QPainterPath star(at(0, -1));
    // Each arm's control points hug the centre lines.
    star.cubicTo(at(0.08, -0.22), at(0.22, -0.08), at(1, 0));
    star.cubicTo(at(0.22, 0.08), at(0.08, 0.22), at(0, 1));
    star.cubicTo(at(-0.08, 0.22), at(-0.22, 0.08), at(-1, 0));
    star.cubicTo(at(-0.22, -0.08), at(-0.08, -0.22), at(0, -1));
    star.closeSubpath();
    return star;
}

}
