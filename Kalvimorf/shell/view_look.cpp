#include "shell/view_look.h"

#include "menus/desktop_theme.h"
#include "menus/palette.h"

#include <QDateTime>
#include <QHelpEvent>
#include <QToolTip>

#include <algorithm>
#include <cmath>

ViewColors ViewColors::of(bool dark, const QColor& accent)
{
    const QColor ink = dark ? Qt::white : Qt::black;
    auto at = [&ink](double alpha) {
        QColor colour = ink;
        colour.setAlphaF(float(alpha));
        return colour;
    };
    // The third level is as faint as text gets while it still reads (3:1 on the window's ground).
    return {dark, at(dark ? 0.85 : 0.85), at(dark ? 0.55 : 0.5), at(dark ? 0.4 : 0.45), accent};
}

ViewColors ViewColors::current(const QWidget* widget)
{
    const bool dark = Theme::isDark(widget);
    return of(dark, Theme::palette(dark, Theme::current()).metal(WheelMode::convert));
}

void showPartTooltip(QWidget* widget, QEvent* event, const std::function<std::optional<TooltipPart>(QPoint)>& at)
{
    auto* help = static_cast<QHelpEvent*>(event);
    if (const auto part = at(help->pos()))
        QToolTip::showText(help->globalPos(), QString::fromStdString(part->text), widget, part->rect);
    else
        QToolTip::hideText();
}

Spring responseSpring(double response, double dampingFraction, double value)
{
    const double omega = 2 * M_PI / response;
    return {value, value, 0, omega * omega, 2 * dampingFraction * omega};
}

SpringTicker::SpringTicker(std::vector<Spring*> springs, std::function<void()> changed, QObject* parent)
    : QObject(parent), springs_(std::move(springs)), changed_(std::move(changed))
{
    timer_.setInterval(1000 / 120);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &SpringTicker::tick);
}

void SpringTicker::aim(Spring& spring, double target)
{
    spring.target = target;
    if (!spring.atRest() && !timer_.isActive()) {
        last_ = QDateTime::currentMSecsSinceEpoch();
        timer_.start();
    }
}

void SpringTicker::tick()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    // A stalled event loop must not fling the springs: one step never covers more than 1/30 s.
    const double dt = std::min(0.034, std::max(0.001, double(now - last_) / 1000));
    last_ = now;
    bool moving = false;
    for (auto* spring : springs_) {
        spring->step(dt);
        moving = moving || !spring->atRest();
    }
    if (!moving)
        timer_.stop();
    changed_();
}
