#pragma once

#include <QImage>

#include <optional>

class QPainter;

// The tray icon: three cards, the front one with a star-shaped hole at rest, or an outline
// filling up from the bottom with the mean progress of the running jobs. Black on transparent,
// like a template image: the tray tints it.
namespace StatusIcon {
constexpr double points = 18;
// Paints into the 18 × 18 point square at the painter's origin.
void paint(QPainter& painter, std::optional<double> progress);
// A new image of 18 × 18 points at `pixelsPerPoint`.
QImage image(std::optional<double> progress, double pixelsPerPoint = 1);
}
