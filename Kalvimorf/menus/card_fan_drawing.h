#pragma once

#include "menus/card_fan_layout.h"
#include "menus/palette.h"

#include <QString>

class QPainter;

// One frame of the card fan at media time `now`, over the whole canvas of `state.size` points.
// Pure: the widget, the render modes and the tests all paint through it.
void paintFan(QPainter& painter, const FanState& state, double now, const Palette& palette);

namespace FanLabels {

// How a card's label sits: across the whole face (a raised card or the topmost one), upright in
// the strip its right neighbour leaves visible, or turned to read upwards along that strip.
enum class Layout { wide, strip, sideways };

struct Fit {
    Layout layout = Layout::wide;
    QString text;  // with the line breaks it is drawn with
    double size = 0;
};

// The layout and the largest size that fits, for a card fully on show (`wide`) or one showing a
// strip `strip` points wide, with letters spaced by `kern`.
Fit fit(const QString& label, bool wide, double strip, double kern);

}
