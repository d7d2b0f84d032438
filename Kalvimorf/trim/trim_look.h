#pragma once

#include "core/base/service.h"

#include <QColor>
#include <QFont>
#include <QRectF>

class QPainter;
class QWidget;

// The colours the trim editor takes from the theme: the convert mode's accent, for the waveform
// and the clip rows. The themes live above this room; the start-up code installs the reader.
class TrimLook : public Service<TrimLook> {
public:
    virtual ~TrimLook() = default;
    virtual QColor accent() = 0;

    // The installed accent, else the standard blue.
    static QColor currentAccent();
};

namespace TrimPaint {
// The active range, its handles and chips.
inline const QColor yellow{0xFF, 0xCC, 0x00};

// Inter at `size` pixels, set explicitly so that renders never depend on what fontconfig picks.
QFont font(double size, QFont::Weight weight = QFont::Normal);
// The editor's foreground at an opacity, from the widget's palette (light or dark alike).
QColor primary(const QWidget& widget, double opacity = 1.0);
QColor secondary(const QWidget& widget);

// The few symbols the editor shows, drawn here so that no icon theme is needed.
enum class Symbol { film, waveform, scissors, play, pause, plus, trash, chevronLeft, chevronRight };
void symbol(QPainter& painter, Symbol which, const QRectF& box, const QColor& colour);
}
