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

// The picture a Linux tray shows as drawn: the mark in `light` (white) or dark ink, with a rim of
// the other tone round everything it draws. Nothing tells the program its panel's colour (Xfce and
// LXDE put a dark panel beside a light theme, and a StatusNotifier host never says), so the mark
// brings its own ground: on a dark panel the rim outlines it, on a light one the ink does.
QImage trayImage(std::optional<double> progress, double pixelsPerPoint, bool light);
}
