#pragma once

#include <QColor>
#include <QRectF>

class QPainter;

// The logo mark: three playing cards spread like a hand, a white sparkle on the front one.
namespace BrivlonMark {
// Drawn square (aspect fit) and centred in `space`.
void paint(QPainter& painter, const QRectF& space, const QColor& ring);
// The square the mark takes in `space`.
QRectF frame(const QRectF& space);
}
