#pragma once

#include <QPainterPath>
#include <QRectF>

// The four-point star of the cards, bursts, logo and tray icon: thin arms, pinched waist,
// symmetric under quarter turns and mirrors, so the direction of y does not matter.
namespace Sparkle {
// Centred in `rect`; the tips reach half the shorter side from the centre.
QPainterPath path(const QRectF& rect);
}
