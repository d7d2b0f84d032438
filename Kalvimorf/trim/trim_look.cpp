#include "trim/trim_look.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGraphicsOpacityEffect>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QWidget>

#include <cmath>

QColor TrimLook::currentAccent()
{
    if (auto look = shared())
        return look->accent();
    return QColor(0, 122, 255);
}

TrimLookChanges& TrimLookChanges::shared()
{
    static auto* changes = new TrimLookChanges;
    return *changes;
}

namespace TrimPaint {

namespace {

const char* const inkProperty = "trimInk";
const char* const symbolProperty = "trimSymbol";

QColor faded(QColor colour, double opacity)
{
    colour.setAlphaF(float(colour.alphaF() * opacity));
    return colour;
}

// The foreground of the application's palette: a tinted widget's own palette already carries its
// tint.
QColor foreground(double opacity) { return faded(QApplication::palette().color(QPalette::WindowText), opacity); }

void applyInk(QWidget& widget, double opacity)
{
    widget.setStyleSheet(QString("color: %1").arg(foreground(opacity).name(QColor::HexArgb)));
}

}

QFont font(double size, QFont::Weight weight)
{
    QFont result(QStringLiteral("Inter"));
    result.setPixelSize(int(std::lround(size)));
    result.setWeight(weight);
    result.setStyleStrategy(QFont::PreferAntialias);
    return result;
}

QColor primary(const QWidget& widget, double opacity)
{
    return faded(widget.palette().color(QPalette::WindowText), opacity);
}

QColor secondary(const QWidget& widget) { return primary(widget, 0.55); }

void symbol(QPainter& painter, Symbol which, const QRectF& box, const QColor& colour)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const double s = std::min(box.width(), box.height());
    const QRectF r(box.center().x() - s / 2, box.center().y() - s / 2, s, s);
    QPen pen(colour, std::max(1.2, s / 11), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    auto at = [&](double x, double y) {
        return QPointF(r.left() + x * s, r.top() + y * s);
    };
    switch (which) {
    case Symbol::film: {
        painter.drawRoundedRect(QRectF(at(0.12, 0.2), at(0.88, 0.8)), s * 0.06, s * 0.06);
        for (double x : {0.26, 0.74})
            painter.drawLine(at(x, 0.2), at(x, 0.8));
        break;
    }
    case Symbol::waveform: {
        const double heights[] = {0.2, 0.45, 0.7, 0.35, 0.55, 0.25};
        for (int i = 0; i < 6; ++i) {
            const double x = 0.15 + i * 0.14, h = heights[i] / 2;
            painter.drawLine(at(x, 0.5 - h), at(x, 0.5 + h));
        }
        break;
    }
    case Symbol::scissors: {
        painter.drawEllipse(QRectF(at(0.1, 0.58), at(0.38, 0.86)));
        painter.drawEllipse(QRectF(at(0.62, 0.58), at(0.9, 0.86)));
        painter.drawLine(at(0.32, 0.62), at(0.72, 0.12));
        painter.drawLine(at(0.68, 0.62), at(0.28, 0.12));
        break;
    }
    case Symbol::play: {
        QPainterPath path;
        path.moveTo(at(0.25, 0.15));
        path.lineTo(at(0.85, 0.5));
        path.lineTo(at(0.25, 0.85));
        path.closeSubpath();
        painter.fillPath(path, colour);
        break;
    }
    case Symbol::pause: {
        painter.fillRect(QRectF(at(0.22, 0.15), at(0.42, 0.85)), colour);
        painter.fillRect(QRectF(at(0.58, 0.15), at(0.78, 0.85)), colour);
        break;
    }
    case Symbol::plus: {
        painter.drawLine(at(0.5, 0.18), at(0.5, 0.82));
        painter.drawLine(at(0.18, 0.5), at(0.82, 0.5));
        break;
    }
    case Symbol::trash: {
        painter.drawLine(at(0.15, 0.25), at(0.85, 0.25));
        painter.drawLine(at(0.4, 0.25), at(0.42, 0.12));
        painter.drawLine(at(0.42, 0.12), at(0.58, 0.12));
        painter.drawLine(at(0.58, 0.12), at(0.6, 0.25));
        QPainterPath can;
        can.moveTo(at(0.25, 0.25));
        can.lineTo(at(0.3, 0.88));
        can.lineTo(at(0.7, 0.88));
        can.lineTo(at(0.75, 0.25));
        painter.drawPath(can);
        break;
    }
    case Symbol::chevronLeft:
    case Symbol::chevronRight: {
        const bool left = which == Symbol::chevronLeft;
        pen.setWidthF(std::max(1.8, s / 7));
        painter.setPen(pen);
        const double tip = left ? 0.36 : 0.64, back = left ? 0.62 : 0.38;
        painter.drawLine(at(back, 0.22), at(tip, 0.5));
        painter.drawLine(at(tip, 0.5), at(back, 0.78));
        break;
    }
    }
    painter.restore();
}

QIcon icon(Symbol which, const QColor& colour)
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    symbol(painter, which, QRectF(2, 2, 28, 28), colour);
    return QIcon(pixmap);
}

void tint(QWidget& widget, double opacity)
{
    widget.setProperty(inkProperty, opacity);
    applyInk(widget, opacity);
}

void giveSymbol(QAbstractButton& button, Symbol which)
{
    button.setProperty(symbolProperty, int(which));
    button.setIcon(icon(which, foreground(1)));
}

void recolour(QWidget& root)
{
    for (auto* widget : root.findChildren<QWidget*>()) {
        if (const auto ink = widget->property(inkProperty); ink.isValid())
            applyInk(*widget, ink.toDouble());
        if (const auto which = widget->property(symbolProperty); which.isValid())
            if (auto* button = qobject_cast<QAbstractButton*>(widget))
                button->setIcon(icon(Symbol(which.toInt()), foreground(1)));
        widget->update();
    }
    root.update();
}

void fade(QWidget& widget, double opacity)
{
    if (opacity >= 1) {
        if (widget.graphicsEffect())
            widget.setGraphicsEffect(nullptr);
        return;
    }
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(widget.graphicsEffect());
    if (!effect) {
        effect = new QGraphicsOpacityEffect(&widget);
        widget.setGraphicsEffect(effect);
    }
    effect->setOpacity(opacity);
}

}
