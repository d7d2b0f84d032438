#include "menus/brivlon_mark.h"

#include "menus/sparkle.h"

#include <QPainter>

#include <algorithm>

namespace BrivlonMark {

QRectF frame(const QRectF& space)
{
    const double s = std::min(space.width(), space.height());
    return QRectF(space.center().x() - s / 2, space.center().y() - s / 2, s, s);
}

void paint(QPainter& painter, const QRectF& space, const QColor& ring)
{
    const QRectF square = frame(space);
    const double s = square.width();
    const QPointF centre = square.center() + QPointF(0, 0.04 * s);
    const QRectF card(-0.18 * s, -0.26 * s, 0.36 * s, 0.52 * s);
    const double radius = 0.06 * s;

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.translate(centre);
    QColor back = ring;
    back.setAlphaF(ring.alphaF() * 0.35f);
    // Each back card turns about a point 0.36 s below its own centre.
    for (double angle : {-24.0, 24.0}) {
        painter.save();
        painter.translate(0, 0.36 * s);
        painter.rotate(angle);
        painter.translate(0, -0.36 * s);
        painter.setBrush(back);
        painter.drawRoundedRect(card, radius, radius);
        painter.restore();
    }
    painter.setBrush(ring);
    painter.drawRoundedRect(card, radius, radius);
    painter.fillPath(Sparkle::path(QRectF(-0.11 * s, -0.11 * s, 0.22 * s, 0.22 * s)), Qt::white);
    painter.restore();
}

}
