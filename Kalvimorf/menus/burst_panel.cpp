#include "menus/burst_panel.h"

#include "core/state/magic_burst.h"
#include "menus/desktop_theme.h"
#include "menus/magic_fireworks.h"
#include "menus/palette.h"
#include "platform/window_shape.h"

#include <QPainter>

BurstPanel::BurstPanel()
    : QWidget(nullptr,
        Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus
            | Qt::WindowTransparentForInput | Qt::X11BypassWindowManagerHint)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    WindowShape::follow(this);
    WindowShape::markUnshadowed(this);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFixedSize(side, side);
    frames_.setInterval(1000 / 60);
    // The panel goes with the frame that finds the firework's time over, on the burst's clock,
    // rather than on a timer of its own that could part from the frames on a busy machine.
    connect(&frames_, &QTimer::timeout, this, [this] {
        if (clock_.elapsed() >= MagicFireworks::duration + 0.1) {
            frames_.stop();
            hide();
            return;
        }
        update();
    });
}

void BurstPanel::burst(QPointF globalPoint)
{
    tint_ = Theme::palette(Theme::isDark(), Theme::current()).metal(WheelMode::convert);
    clock_ = BurstClock{};
    move(int(globalPoint.x() - side / 2.0), int(globalPoint.y() - side / 2.0));
    show();
    raise();
    frames_.start();
    update();
}

void BurstPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    MagicFireworks::paint(painter, size(), clock_.elapsed(), tint_);
}

void BurstPanel::install()
{
    // Made on first use and kept for the whole run, like the bookkeeping it serves.
    struct Show : MagicBurst::Presenter {
        void show(QPointF at) override
        {
            static BurstPanel* panel = new BurstPanel;
            panel->burst(at);
        }
    };
    MagicBurst::Presenter::set(std::make_shared<Show>());
}
