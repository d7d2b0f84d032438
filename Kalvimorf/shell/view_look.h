#pragma once

#include "core/state/spring_curve.h"
#include "menus/spring.h"

#include <QColor>
#include <QObject>
#include <QTimer>

#include <QRect>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QWidget;

// The colours of the main window's painted parts: the label colours of the appearance in force
// and the theme's convert colour, looked up afresh at every paint.
struct ViewColors {
    bool dark = false;
    QColor primary;
    QColor secondary;
    QColor tertiary;
    QColor accent;

    static ViewColors of(bool dark, const QColor& accent);
    // Darkness as the widget shows it, the accent of the theme in force.
    static ViewColors current(const QWidget* widget = nullptr);
};

// Painted parts with several tooltips: shows the one of the part under the help event's point
// (`at` gives its text and rectangle, or nothing), or hides any.
struct TooltipPart {
    std::string text;
    QRect rect;
};
void showPartTooltip(QWidget* widget, QEvent* event, const std::function<std::optional<TooltipPart>(QPoint)>& at);

// A spring given as the time of one swing and how much of the swing is damped (1: no overshoot),
// at rest at `value`.
Spring responseSpring(double response, double dampingFraction, double value = 0);

// Steps some springs at 120 Hz while any of them moves and calls `changed` after each step.
class SpringTicker : public QObject {
public:
    SpringTicker(std::vector<Spring*> springs, std::function<void()> changed, QObject* parent = nullptr);
    // Sets a spring's target and starts stepping when it has to move.
    void aim(Spring& spring, double target);

private:
    void tick();

    std::vector<Spring*> springs_;
    std::function<void()> changed_;
    QTimer timer_;
    qint64 last_ = 0;
};
