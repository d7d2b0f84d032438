#pragma once

#include "menus/card_fan_layout.h"
#include "menus/palette.h"

#include <QPointF>
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
    QPointF centre;  // of the text box, in card space (y up; before the quarter turn of sideways)
    double width = 0;  // of the text box, along the lines
};

// The layout, place and largest size that fit, for a card fully on show (`wide`) or a resting
// one of `count` whose right neighbour covers part of it, with letters spaced by `kern`. Strip
// and sideways labels keep to what their neighbour leaves visible at each line's height, and
// every label stays below the corner's star and number.
Fit fit(const QString& label, bool wide, int count, double kern);

}
