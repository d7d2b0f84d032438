#pragma once

#include "core/base/service.h"

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QObject>
#include <QRectF>

class QAbstractButton;
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

// Tells an open editor that the theme or the appearance changed, so that every part recolours at
// once rather than at its next repaint; the start-up code forwards the desktop's news here.
class TrimLookChanges : public QObject {
    Q_OBJECT
public:
    static TrimLookChanges& shared();

Q_SIGNALS:
    void changed();
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
QIcon icon(Symbol which, const QColor& colour);

// The text of a control in the foreground at `opacity`, and a button's symbol in the foreground:
// marked on the widget, so that recolour() finds them again.
void tint(QWidget& widget, double opacity);
void giveSymbol(QAbstractButton& button, Symbol which);
// Everything under `root` that was tinted or given a symbol takes the foreground in force now, and
// every part repaints.
void recolour(QWidget& root);
// A part with all it holds at `opacity`; at 1 it is drawn as it is, with no effect between.
void fade(QWidget& widget, double opacity);
}
