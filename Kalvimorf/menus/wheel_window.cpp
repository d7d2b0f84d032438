#include "menus/wheel_window.h"

#include "platform/drag_input.h"
#include "platform/x11_properties.h"

#include <QCursor>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QScreen>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

WheelWindow::WheelWindow(std::shared_ptr<DragInput> input)
    : fan_(new CardFan(&panel_)), wheel_(new WheelView()), dropArea_(new DropOffers::DropArea(&panel_)),
      input_(std::move(input))
{
    wheel_->setParent(&panel_);
    fan_->hide();
    panel_.resize(wheel_->size());
    clickPoll_.setInterval(1000 / 60);
    QObject::connect(&clickPoll_, &QTimer::timeout, [this] {
        pollClick();
    });
    fan_->onOpened = [this] {
        nudgeRestingDrag(
            *fan_,
            [this](QPointF at) {
                return fan_->cardAt(at);
            },
            fan_->highlighted());
    };
    wheel_->onOpened = [this] {
        nudgeRestingDrag(
            *wheel_,
            [this](QPointF at) {
                return WheelDrawing::segmentAt(at, int(wheel_->state().cards.size()));
            },
            wheel_->state().highlighted);
    };
}

// A drag source looks for the window under the pointer only when the pointer moves. Without a
// compositing manager the panel takes input only where it has painted (WindowShape), so a hand
// that reached a card's place while the card was still being dealt (or a segment's before the
// wheel had grown to it), and stopped there, went on pointing at the window beneath: the card
// never heard of the drag and the release was lost.
// Moved by one pixel, the pointer has the source look again, and the fan answers. (Moved back at
// once, the two motions can reach the source as one that goes nowhere, which Qt's sources drop.)
void WheelWindow::nudgeRestingDrag(
    QWidget& surface, const std::function<std::optional<int>(QPointF)>& entryAt, std::optional<int> lit)
{
    auto* connection = X11Properties::connection();
    if (!connection || !panel_.isVisible() || !surface.isVisible())
        return;
    const auto window = xcb_window_t(panel_.winId());
    const std::unique_ptr<xcb_query_pointer_reply_t, decltype(&std::free)> pointer(
        xcb_query_pointer_reply(connection, xcb_query_pointer(connection, window), nullptr), &std::free);
    if (!pointer || !pointer->same_screen || !(pointer->mask & XCB_KEY_BUT_MASK_BUTTON_1))
        return;
    const double ratio = panel_.devicePixelRatioF();
    const auto entry = entryAt(surface.mapFrom(&panel_, QPointF(pointer->win_x / ratio, pointer->win_y / ratio)));
    // An entry the drag already lit heard of it.
    if (!entry || lit == entry)
        return;
    xcb_warp_pointer(connection, XCB_NONE, window, 0, 0, 0, 0, int16_t(pointer->win_x + 1), pointer->win_y);
    xcb_flush(connection);
}

void WheelWindow::pollClick()
{
    const auto pointer = input_->pointer();
    // A button going down, whichever other one is held.
    const bool pressed = (pointer.leftButton && !leftWasDown_) || (pointer.rightButton && !rightWasDown_);
    leftWasDown_ = pointer.leftButton;
    rightWasDown_ = pointer.rightButton;
    if (pressed && !panel_.frameGeometry().contains(QCursor::pos()) && clicked_)
        clicked_();
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
    // The entries take drops from the first frame on, where they will stand once arrived: the
    // fan's cards once dealt, the wheel's disc once grown.
    dropArea_->setArea(fan_->isVisibleTo(&panel_) ? fan_->dropArea().translated(fan_->pos())
                                                  : QRegion(wheel_->geometry(), QRegion::Ellipse));
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
    const auto pointer = input_->pointer();
    leftWasDown_ = pointer.leftButton;
    rightWasDown_ = pointer.rightButton;
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
