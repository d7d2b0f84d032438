#pragma once

#include "core/base/appearance.h"
#include "core/base/settings.h"

#include <QColor>
#include <QFont>

// The colours and type of one theme in light or dark. Every drawn surface asks for it at every
// paint, so a changed setting shows on the next frame.
struct Palette {
    enum class TitleDesign { standard, rounded };

    QColor slice;  // face of a card or wheel slice
    QColor sliceLine;  // outline of cards and slices
    QColor text;  // label text
    QColor center;  // the wheel's centre disc
    QColor title;
    QColor subtitle;  // subtitle, detail lines, secondary text
    QColor dot;  // dots and small marks
    double shadow = 0;  // opacity of drop shadows
    bool showsRing = false;
    double labelKern = 0;  // extra letter spacing of capital card labels, in points
    QFont::Weight labelWeight = QFont::Medium;
    TitleDesign titleDesign = TitleDesign::standard;
    bool glass = false;  // fixed glass face and edge instead of slice and sliceLine
    bool naturalCase = false;  // labels in natural case outside the convert mode
    QColor (*metal)(WheelMode) = nullptr;  // a mode's accent
    QColor (*selFill)(WheelMode) = nullptr;  // fill of the highlighted card or slice
    QColor (*selText)(WheelMode) = nullptr;  // label on the highlighted card or slice
};

namespace Theme {
// The palette of a theme in light or dark; pure.
Palette palette(bool dark, AppTheme theme);
// The desktop's accent colour for the macos theme: the platform palette's highlight where a
// desktop sets one, else (0, 122, 255). Offscreen renders always get the fixed blue, so that
// they are reproducible.
QColor accent();
// The fixed blue the renders use as "standard blue".
QColor standardBlue();
// A card's or segment's label as shown: natural case outside the convert mode where the palette
// asks for it, with the names of other platforms' places kept in their own spelling.
QString displayLabel(const QString& label, const Palette& palette, WheelMode mode);
}
