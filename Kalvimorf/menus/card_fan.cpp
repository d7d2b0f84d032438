#include "menus/card_fan.h"

#include "core/state/media_clock.h"
#include "menus/card_fan_drawing.h"
#include "menus/desktop_theme.h"
#include "menus/drawing_kit.h"
#include "menus/haptics.h"
#include "platform/drop_offers.h"

#include <QDragEnterEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace {

constexpr Spring restingLift{0, 0, 0, 520, 30};

}

CardFan::CardFan(QWidget* parent) : QWidget(parent)
{
    resize(int(state_.size.width()), int(state_.size.height()));
    setAcceptDrops(true);
    setMouseTracking(true);
    setAttribute(Qt::WA_TranslucentBackground);
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(1000 / 120);
    connect(&timer_, &QTimer::timeout, this, &CardFan::tick);
    connect(&Theme::Notifier::shared(), &Theme::Notifier::themeChanged, this, qOverload<>(&QWidget::update));
}

QPointF CardFan::anchor() const
{
    return Draw::fromYUp(FanGeometry::anchor(state_.size, state_.opensDown), state_.size.height());
}

QRegion CardFan::dropArea() const
{
    QPolygonF outline;
    for (const QPointF& point : FanGeometry::hitOutline(int(state_.cards.size()), state_.size, state_.opensDown))
        outline << Draw::fromYUp(point, state_.size.height());
    return QRegion(outline.toPolygon());
}

void CardFan::setInteractive(bool interactive)
{
    interactive_ = interactive;
    // A picked card keeps its lift while the fan closes around it.
    if (!interactive && state_.highlighted && !state_.picked) {
        state_.highlighted.reset();
        liftOnly(std::nullopt);
        startAnimation();
    }
}

void CardFan::configure(std::vector<WheelEntry> entries, const std::string& title, const std::string& subtitle,
    WheelMode mode, const std::string& emptyMessage, std::optional<int> pager)
{
    state_.cards = std::move(entries);
    state_.title = title;
    state_.subtitle = subtitle;
    state_.mode = mode;
    state_.emptyMessage = emptyMessage;
    state_.pager = pager;
    state_.highlighted.reset();
    state_.picked.reset();
    state_.lift.assign(state_.cards.size(), restingLift);
    update();
}

void CardFan::preselect(int index)
{
    if (state_.highlighted == index)
        return;
    state_.highlighted = index;
    liftOnly(index);
    startAnimation();
}

void CardFan::animateIn()
{
    state_.shownAt = MediaClock::now();
    state_.hidingAt.reset();
    onHidden_ = nullptr;
    state_.picked.reset();
    opened_ = false;
    startAnimation();
}

void CardFan::animateOut(std::function<void()> done)
{
    if (isHiding())
        return;
    state_.hidingAt = MediaClock::now();
    onHidden_ = std::move(done);
    startAnimation();
}

void CardFan::pick(int index)
{
    state_.picked = state_.highlighted = index;
    liftOnly(index);
    startAnimation();
}

void CardFan::setOpensDown(bool down)
{
    state_.opensDown = down;
    update();
}

void CardFan::setNumbered(bool numbered)
{
    state_.numbered = numbered;
    update();
}

void CardFan::restAt(std::optional<int> index)
{
    for (size_t i = 0; i < state_.lift.size(); ++i) {
        const double value = index == int(i) ? 1 : 0;
        state_.lift[i] = {value, value, 0, 420, 32};
    }
}

void CardFan::debugHighlight(std::optional<int> index)
{
    state_.highlighted = index;
    restAt(index);
    update();
}

void CardFan::debugPick(int index, double t)
{
    state_.picked = state_.highlighted = index;
    restAt(index);
    frozenAt_ = MediaClock::now();
    state_.hidingAt = *frozenAt_ - t;
    update();
}

double CardFan::frameTime() const { return frozenAt_ ? *frozenAt_ : MediaClock::now(); }

void CardFan::liftOnly(std::optional<int> index)
{
    for (size_t i = 0; i < state_.lift.size(); ++i)
        state_.lift[i].target = index == int(i) ? 1 : 0;
}

void CardFan::setHighlight(std::optional<int> index, bool haptic)
{
    if (state_.highlighted == index)
        return;
    if (index && haptic)
        Haptics::tick();
    state_.highlighted = index;
    liftOnly(index);
    startAnimation();
}

void CardFan::startAnimation()
{
    lastTick_ = MediaClock::now();
    if (!timer_.isActive())
        timer_.start();
}

void CardFan::tick()
{
    const double now = MediaClock::now();
    const double dt = std::min(now - lastTick_, 1.0 / 30);
    lastTick_ = now;
    bool resting = true;
    for (auto& spring : state_.lift) {
        spring.step(dt);
        resting = resting && spring.atRest();
    }
    update();
    if (!opened_ && !state_.hidingAt && now - state_.shownAt >= FanGeometry::dealTime(int(state_.cards.size()))) {
        opened_ = true;
        if (onOpened)
            onOpened();
    }
    if (state_.hidingAt) {
        const double close = state_.picked ? FanGeometry::pickClose : FanGeometry::plainClose;
        if (now - *state_.hidingAt > close) {
            timer_.stop();
            state_.hidingAt.reset();
            if (auto done = std::exchange(onHidden_, nullptr))
                done();
        }
    } else if (now - state_.shownAt > 0.8 && resting) {
        timer_.stop();
    }
}

std::optional<int> CardFan::cardAt(QPointF widgetPoint) const
{
    return FanGeometry::hit(
        Draw::fromYUp(widgetPoint, state_.size.height()), int(state_.cards.size()), state_.size, state_.opensDown);
}

void CardFan::paintInto(QPainter& painter) const
{
    paintFan(painter, state_, frameTime(), Theme::palette(Theme::isDark(this), Theme::current()));
}

void CardFan::paintEvent(QPaintEvent*)
{
    if (onFrame)
        onFrame(0, 0, false);  // the fan wants no blurred disc behind it
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    paintInto(painter);
}

void CardFan::mouseMoveEvent(QMouseEvent* event)
{
    if (!interactive_)
        return;
    // Off every card the last highlight stays: the gaps between cards are no reason to flicker.
    if (const auto card = cardAt(event->position()))
        setHighlight(card, true);
}

void CardFan::mouseReleaseEvent(QMouseEvent* event)
{
    if (!interactive_)
        return;
    if (const auto card = cardAt(event->position())) {
        if (onClick)
            onClick(state_.cards[size_t(*card)]);
    } else if (onCenterClick) {
        onCenterClick();
    }
}

void CardFan::dragEnterEvent(QDragEnterEvent* event)
{
    // Taken anywhere over the fan, gaps included: a refused enter would bring no further moves,
    // and the move that follows decides for the position (and for files the source had not
    // handed over yet).
    if (!dragged_.enter(event->mimeData()) || !DropOffers::action(event->possibleActions()))
        return event->ignore();
    event->setDropAction(*DropOffers::action(event->possibleActions()));
    event->accept();
}

void CardFan::dragMoveEvent(QDragMoveEvent* event)
{
    const auto card = cardAt(event->position());
    setHighlight(card, true);
    const auto action = DropOffers::action(event->possibleActions());
    if (!card || !action || dragged_.at(event->mimeData()).empty())
        return event->ignore();
    event->setDropAction(*action);
    event->accept();
    if (onDragTaken)
        onDragTaken(state_.cards[size_t(*card)]);
}

void CardFan::dragLeaveEvent(QDragLeaveEvent*)
{
    if (state_.highlighted) {
        state_.highlighted.reset();
        liftOnly(std::nullopt);
        startAnimation();
    }
}

void CardFan::dropEvent(QDropEvent* event)
{
    // The card where the files are let go decides, never the one last lit: the cards may have
    // changed under a hand at rest since (another mode shown in place), and a drop the fan heard
    // of only at the release lit nothing.
    const auto card = cardAt(event->position());
    const auto files = dragged_.dropped(event->mimeData());
    const auto action = DropOffers::action(event->possibleActions());
    if (!card || files.empty() || !action)
        return event->ignore();
    setHighlight(card, false);
    event->setDropAction(*action);
    event->accept();
    // The pick runs once the drop has been answered, so the source is not kept waiting on it.
    QTimer::singleShot(0, this, [this, files, entry = state_.cards[size_t(*card)]] {
        if (onPick)
            onPick(files, entry);
    });
}
