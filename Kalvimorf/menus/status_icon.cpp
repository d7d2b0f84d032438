#include "menus/status_icon.h"

#include "menus/drawing_kit.h"
#include "menus/sparkle.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace StatusIcon {

namespace {
QPainterPath rounded(const QRectF& rect, double radius)
{
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}
}

void paint(QPainter& painter, std::optional<double> progress)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    Draw::flipToYUp(painter, points);
    // Card space: centred, its pivot near the bottom edge.
    painter.translate(points / 2, 0.6);
    const QRectF card(-3.1, 5.3, 6.2, 9.0);
    const auto cardPath = rounded(card, 1.6);

    for (double degrees : {24.0, -24.0}) {
        painter.save();
        painter.rotate(degrees);
        painter.fillPath(cardPath, QColor(0, 0, 0, 115));
        painter.restore();
    }

    // A transparent gap round the front card, cut through the back cards.
    painter.setCompositionMode(QPainter::CompositionMode_Clear);
    painter.fillPath(rounded(card.adjusted(-0.9, -0.9, 0.9, 0.9), 2.2), Qt::black);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);

    if (!progress) {
        painter.fillPath(cardPath, Qt::black);
        const QRectF star(-2.7, card.center().y() - 2.7, 5.4, 5.4);
        painter.setCompositionMode(QPainter::CompositionMode_Clear);
        painter.fillPath(Sparkle::path(star), Qt::black);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    } else if (*progress >= 1) {
        painter.fillPath(cardPath, Qt::black);
    } else {
        QPen outline(Qt::black, 1.2);
        painter.strokePath(rounded(card.adjusted(0.6, 0.6, -0.6, -0.6), 1.4), outline);
        // The bar rises inside the outline, apart from it by a hair, and is never thinner than a
        // point: a job that has just started still shows a bar, never an empty card.
        const QRectF inside = card.adjusted(1.7, 1.7, -1.7, -1.7);
        const double height = std::max(inside.height() * std::max(*progress, 0.0), 1.0);
        painter.fillPath(rounded(QRectF(inside.left(), inside.top(), inside.width(), height), 0.5), Qt::black);
    }
    painter.restore();
}

QImage image(std::optional<double> progress, double pixelsPerPoint)
{
    const int side = int(points * pixelsPerPoint + 0.5);
    QImage result(side, side, QImage::Format_ARGB32_Premultiplied);
    result.fill(Qt::transparent);
    QPainter painter(&result);
    painter.scale(pixelsPerPoint, pixelsPerPoint);
    paint(painter, progress);
    return result;
}

QImage trayImage(std::optional<double> progress, double pixelsPerPoint, bool light)
{
    const QImage mark = image(progress, pixelsPerPoint);
    const int side = mark.width();
    // The rim: the mark's coverage spread by about a point (a pixel at the least), which also
    // fills its holes and the gaps between its cards.
    const double reach = std::max(1.0, 0.9 * pixelsPerPoint);
    const int r = int(std::ceil(reach));
    QImage rim(side, side, QImage::Format_ARGB32_Premultiplied);
    const QColor rimTone = light ? Qt::black : Qt::white;
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            int cover = 0;
            for (int dy = -r; dy <= r; ++dy)
                for (int dx = -r; dx <= r; ++dx) {
                    const int sx = x + dx, sy = y + dy;
                    if (sx < 0 || sy < 0 || sx >= side || sy >= side || dx * dx + dy * dy > reach * reach + 0.5)
                        continue;
                    cover = std::max(cover, qAlpha(mark.pixel(sx, sy)));
                }
            // Opaque under the faint back cards too, which would sink into a panel of their
            // own tone otherwise; only the anti-aliased fringe fades.
            QColor tone = rimTone;
            tone.setAlpha(std::min(255, cover * 255 / 115));
            rim.setPixel(x, y, qPremultiply(tone.rgba()));
        }
    QImage ink = mark;
    if (light) {
        QPainter tint(&ink);
        tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
        tint.fillRect(ink.rect(), Qt::white);
    }
    QPainter painter(&rim);
    painter.drawImage(0, 0, ink);
    return rim;
}

}
