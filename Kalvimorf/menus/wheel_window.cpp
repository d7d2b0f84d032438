#include "menus/wheel_window.h"

#include "platform/drag_input.h"

#include <QCursor>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QScreen>

WheelWindow::WheelWindow() : fan_(new CardFan(&panel_)), wheel_(new WheelView())
{
    wheel_->setParent(&panel_);
    fan_->hide();
    panel_.resize(wheel_->size());
    clickPoll_.setInterval(1000 / 60);
    QObject::connect(&clickPoll_, &QTimer::timeout, [this] {
        const bool down = input_ && input_->pointer().leftButton;
        const bool pressed = down && !buttonWasDown_;
        buttonWasDown_ = down;
        if (pressed && !panel_.frameGeometry().contains(QCursor::pos()) && clicked_)
            clicked_();
    });
}

void WheelWindow::warmUp()
{
    panel_.winId();
    const WheelEntry::Paths sample{"/tmp/exemplo.png"};
    for (auto style : {MenuStyle::fan, MenuStyle::wheel}) {
        auto& surface = this->surface(style);
        auto offer = WheelController::entries(WheelMode::convert, sample);
        surface.configure(std::move(offer.entries), WheelController::title(WheelMode::convert), "exemplo.png",
            WheelMode::convert, offer.empty, std::nullopt);
        QWidget& widget = style == MenuStyle::fan ? static_cast<QWidget&>(*fan_) : static_cast<QWidget&>(*wheel_);
        QImage scratch(widget.size() * widget.devicePixelRatioF(), QImage::Format_ARGB32_Premultiplied);
        scratch.setDevicePixelRatio(widget.devicePixelRatioF());
        scratch.fill(Qt::transparent);
        widget.render(&scratch, {}, {}, QWidget::RenderFlags());
    }
}

MenuSurface& WheelWindow::surface(MenuStyle style)
{
    switch (style) {
    case MenuStyle::fan: return *fan_;
    case MenuStyle::wheel: return *wheel_;
    }
    return *fan_;
}

QSizeF WheelWindow::surfaceSize(MenuStyle style) const
{
    switch (style) {
    case MenuStyle::fan: return fan_->size();
    case MenuStyle::wheel: return wheel_->size();
    }
    return fan_->size();
}

void WheelWindow::useSurface(MenuStyle style)
{
    fan_->setVisible(style == MenuStyle::fan);
    wheel_->setVisible(style == MenuStyle::wheel);
}

void WheelWindow::placePanel(QRectF frame)
{
    const QRect rect = frame.toRect();
    panel_.setGeometry(rect);
    raisePanel();
    // Some window managers place a new window themselves; the menu belongs under the pointer.
    if (panel_.pos() != rect.topLeft())
        panel_.move(rect.topLeft());
}

void WheelWindow::raisePanel()
{
    panel_.setWindowOpacity(1);
    panel_.show();
    panel_.raise();
}

void WheelWindow::setKeyHandler(std::function<bool(int key, const QString& text)> handler)
{
    panel_.onKey = [handler](QKeyEvent* event) {
        return handler && handler(event->key(), event->text());
    };
}

void WheelWindow::watchClicksOutside(std::function<void()> clicked)
{
    clicked_ = std::move(clicked);
    if (!clicked_) {
        clickPoll_.stop();
        return;
    }
    if (!input_)
        input_ = DragInput::system();
    // A press already held (the end of the drop) is not a click outside.
    buttonWasDown_ = input_->pointer().leftButton;
    clickPoll_.start();
}

std::vector<WheelController::Screen> WheelWindow::screens() const
{
    std::vector<WheelController::Screen> result;
    for (const QScreen* screen : QGuiApplication::screens())
        result.push_back({screen->geometry(), screen->availableGeometry()});
    return result;
}

QPointF WheelWindow::pointer() const { return QCursor::pos(); }
