#pragma once

// The parts every painted surface shares: the one conversion from the y-up geometry the
// drawings are designed in to Qt's y-down, drop shadows and transparency layers, colour
// blending, text fitting, the program's font, and the easing curves.

#include <QByteArray>
#include <QColor>
#include <QFont>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <QTransform>

#include <functional>

class QPainter;

namespace Draw {

// Geometry designed with the origin at the bottom left and y growing upwards, inside a canvas
// `height` points high, drawn by Qt with y growing downwards. Only these helpers know that.
QPointF fromYUp(QPointF point, double height);
QRectF fromYUp(const QRectF& rect, double height);
// A shadow offset or other displacement designed with y up.
QPointF offsetFromYUp(QPointF offset);
// The point at `radius` from `centre` (both y-up) at `degrees` counter-clockwise from +x, in Qt's
// coordinates.
QPointF polarFromYUp(QPointF centre, double radius, double degrees, double height);
// Puts the painter into the y-up space of a canvas `height` points high: from then on points,
// rectangles and turns (counter-clockwise for positive degrees) are used as designed. Text
// painted there would be upside down: restore the painter first.
void flipToYUp(QPainter& painter, double height);
// A direction designed with y up (a shadow's offset) in Qt's y-down.
QPointF vectorFromYUp(QPointF vector);
// Inside y-up space: moves the origin to `point` and turns y back down, so that text drawn
// around the origin reads upright.
void textSpaceAt(QPainter& painter, QPointF point);

// Inter, set explicitly so that renders never depend on what fontconfig picks. `size` is in the
// drawings' points, one pixel each at scale 1; Qt's own points are 4/3 of a pixel at the logical
// 96 dots per inch of every Qt 6 device.
QFont font(double size, QFont::Weight weight = QFont::Normal);

// Per-component mix in sRGB, alpha included: 0 gives `from`, 1 gives `to`; fraction clamped.
QColor blended(const QColor& from, double fraction, const QColor& to);
QColor withAlpha(QColor colour, double alpha);

double clamp01(double value);
double easeOutCubic(double t);
// Rises past 1 and settles back (the pop of a star or a card): 1 + 2.35 u³ + 1.35 u², u = t - 1.
double easeOutBack(double t);

struct Shadow {
    QPointF offset;  // in device pixels; not turned with the shape
    double blur = 0;  // blur radius in device pixels
    QColor colour;
};

// Paints `draw` over its own drop shadow: the alpha of everything `draw` paints inside `bounds`
// (in the painter's current coordinates) is blurred, tinted and laid under it. The scratch image
// covers only the shape's device bounds at a reduced resolution, since a shadow has no fine
// detail. A non-zero `shapeKey` names a shape that always looks the same in its own coordinates
// (a card body): its blurred shadow is then made once per size and reused at every angle and
// place, which keeps a frame of many moving cards cheap.
void withShadow(QPainter& painter, const QRectF& bounds, const Shadow& shadow,
    const std::function<void(QPainter&)>& draw, quint64 shapeKey = 0);

// Paints `draw` through an image kept under `key`, made at the painter's current scale: something
// that always looks the same in its own coordinates (a card with its face) is drawn once and then
// only laid down, at any angle and place. `key` names everything the drawing depends on.
void cached(QPainter& painter, const QRectF& bounds, const QByteArray& key, const std::function<void(QPainter&)>& draw);

// Paints a group of shapes as one: drawn into a scratch image first, then laid down with
// `opacity` (overlaps inside the group do not show through each other).
void layer(QPainter& painter, const QRectF& bounds, double opacity, const std::function<void(QPainter&)>& draw);

// Text fitting. `fittedFont` shrinks the size until `text` fits `width` (never below
// `minimumSize`); `elided` cuts the tail with an ellipsis; `wrapped` breaks at spaces into at most
// `maxLines` lines, the last elided.
QFont fittedFont(const QString& text, QFont font, double width, double minimumSize);
QString elided(const QString& text, const QFont& font, double width);
QStringList wrapped(const QString& text, const QFont& font, double width, int maxLines);

}
