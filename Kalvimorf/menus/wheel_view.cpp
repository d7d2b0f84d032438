#include "menus/wheel_view.h"

#include "core/state/media_clock.h"
#include "menus/desktop_theme.h"
#include "menus/drawing_kit.h"
#include "menus/haptics.h"
#include "menus/sparkle.h"
#include "platform/drop_offers.h"

#include <QDragEnterEvent>
#include <QFontMetricsF>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <map>

void WheelState::configure(std::vector<WheelEntry> entries, std::string newTitle, std::string newSubtitle,
    WheelMode newMode, std::string newEmpty, std::optional<int> newPager)
{
    hover.assign(entries.size(), Spring{0, 0, 0, 420, 32});
    cards = std::move(entries);
    title = std::move(newTitle);
    subtitle = std::move(newSubtitle);
    mode = newMode;
    emptyMessage = std::move(newEmpty);
    pager = newPager;
    highlighted.reset();
    overCenter = false;
    centerHover = Spring{0, 0, 0, 420, 32};
}

void WheelState::settleOn(std::optional<int> index)
{
    highlighted = index;
    for (size_t i = 0; i < hover.size(); ++i) {
        const double v = index && size_t(*index) == i ? 1 : 0;
        hover[i] = Spring{v, v, 0, 420, 32};
    }
}

namespace WheelDrawing {

namespace {

const QPointF centre(side / 2, side / 2);  // the same in y-up and y-down: the canvas is square

// Centre of a text box `up` points above the canvas centre (y-up), in Qt coordinates.
QPointF above(double up) { return Draw::fromYUp(centre + QPointF(0, up), side); }

QPainterPath ringSegment(QPointF middle, double innerRadius, double outerRadius, double from, double to)
{
    QPainterPath path;
    const int steps = std::max(8, int(std::ceil((to - from) / 2)));
    auto point = [&](double r, double degrees) {
        return Draw::polarFromYUp(middle, r, degrees, side);
    };
    path.moveTo(point(outerRadius, from));
    for (int k = 1; k <= steps; ++k)
        path.lineTo(point(outerRadius, from + (to - from) * k / steps));
    for (int k = steps; k >= 0; --k)
        path.lineTo(point(innerRadius, from + (to - from) * k / steps));
    path.closeSubpath();
    return path;
}

QFont labelFont(double size, const Palette& palette)
{
    QFont font = Draw::font(size, palette.labelWeight);
    font.setLetterSpacing(QFont::AbsoluteSpacing, palette.labelKern);
    return font;
}

QFont titleFont(double size)
{
    // Both title designs of the palettes are sans; Inter stands for each.
    return Draw::font(size, QFont::DemiBold);
}

// One line per word, in the case the palette shows.
QStringList lines(const std::string& label, const Palette& palette, WheelMode mode)
{
    return Theme::displayLabel(QString::fromStdString(label), palette, mode).split(u' ', Qt::SkipEmptyParts);
}

// Hub text that fits 92 points wide and 54 high, from 13 points down.
QFont fitCenter(const QString& text)
{
    QFont font = titleFont(13);
    for (double size = 13; size >= 8.5; size -= 0.5) {
        font = titleFont(size);
        const QFontMetricsF metrics(font);
        bool wordsFit = true;
        for (const auto& word : text.split(u' ', Qt::SkipEmptyParts))
            wordsFit = wordsFit && metrics.horizontalAdvance(word) <= 92;
        const double height
            = metrics.boundingRect(QRectF(0, 0, 92, 400), Qt::TextWordWrap | Qt::AlignHCenter, text).height();
        if (wordsFit && height <= 54)
            return font;
    }
    return font;
}

void drawText(QPainter& painter, QPointF middle, double width, const QString& text, const QFont& font,
    const QColor& colour, int flags = Qt::AlignHCenter | Qt::AlignVCenter)
{
    const QFontMetricsF metrics(font);
    const QRectF box = metrics.boundingRect(QRectF(0, 0, width, 400), flags | Qt::TextWordWrap, text);
    painter.setFont(font);
    painter.setPen(colour);
    painter.drawText(QRectF(middle.x() - width / 2, middle.y() - box.height() / 2, width, box.height()),
        flags | Qt::TextWordWrap, text);
}

void drawPager(QPainter& painter, int lit, double baseline, const Palette& palette)
{
    const WheelMode modes[] = {WheelMode::convert, WheelMode::tools, WheelMode::actions};
    double x = centre.x() - 14.5;
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < 3; ++i) {
        const double width = i == lit ? 13 : 4;
        painter.setBrush(i == lit ? palette.metal(modes[i]) : palette.dot);
        painter.drawRoundedRect(Draw::fromYUp(QRectF(x, baseline - 2, width, 4), side), 2, 2);
        x += width + 4;
    }
}

}

std::optional<int> segmentAt(QPointF point, int count)
{
    const QPointF up = Draw::fromYUp(point, side);
    const double dx = up.x() - centre.x(), dy = up.y() - centre.y();
    const double d = std::hypot(dx, dy);
    if (count == 0 || d < inner || d > 190)
        return std::nullopt;
    double a = std::fmod(-std::atan2(dy, dx) * 180 / M_PI + 90, 360);
    if (a < 0)
        a += 360;
    const double step = 360.0 / count;
    return int(std::floor((a + step / 2) / step)) % count;
}

bool overHub(QPointF point) { return std::hypot(point.x() - centre.x(), point.y() - centre.y()) < inner; }

double labelSize(const std::vector<WheelEntry>& entries, const Palette& palette, WheelMode mode)
{
    if (entries.empty())
        return 13;
    // Measuring every label at every size is most of a frame's text work, and the answer only
    // changes with the labels and the type: kept per combination.
    std::string key = std::to_string(int(palette.labelWeight)) + '|' + std::to_string(palette.labelKern) + '|'
        + std::to_string(palette.showsRing) + std::to_string(palette.naturalCase) + std::to_string(int(mode));
    for (const auto& entry : entries)
        key += '|' + entry.label;
    thread_local std::map<std::string, double> known;
    if (auto found = known.find(key); found != known.end())
        return found->second;
    if (known.size() > 256)
        known.clear();
    const size_t n = entries.size();
    const double half = (n >= 2 ? 360.0 / double(n) * 0.5 - 1.4 : 90) * M_PI / 180;
    double smallest = 1e9;
    for (const auto& entry : entries) {
        const auto parts = lines(entry.label, palette, mode);
        double size = parts.size() >= 2 ? 12.5 : (palette.showsRing ? 14 : 15);
        for (;; size -= 0.5) {
            const QFontMetricsF metrics(labelFont(size, palette));
            double widest = 0;
            for (const auto& part : parts)
                widest = std::max(widest, metrics.horizontalAdvance(part));
            const double height = 0.92 * metrics.lineSpacing() * double(parts.size());
            const double r = 107 - height / 2;
            const double chord = std::min(2 * r, 2 * r * std::sin(half)) - 14;
            if ((widest <= std::min(chord, 112.0) && height <= 72) || size <= 7.5)
                break;
        }
        smallest = std::min(smallest, size);
    }
    known.emplace(std::move(key), smallest);
    return smallest;
}

namespace {

// An ease-out that runs past its end and settles back: 1 + square·q² + cube·q³ for q = progress − 1.
struct Overshoot {
    double square;
    double cube;
    double at(double progress) const
    {
        const double q = progress - 1;
        return 1 + square * q * q + cube * q * q * q;
    }
};

// The disc grows from openFrom of its size with this overshoot while it fades in, faster.
constexpr double openSeconds = 0.34;
constexpr double openFrom = 0.82, openBy = 0.18;
constexpr Overshoot discOvershoot{1.35, 2.35};
constexpr double fadeInSeconds = 0.12;
// Closing fades out and shrinks the disc a little.
constexpr double hideSeconds = 0.15;
constexpr double hideShrink = 0.07;
// Each segment pops out on its own, one after the other clockwise.
constexpr double segmentDelay = 0.02, segmentStagger = 0.022, segmentSeconds = 0.28;
constexpr Overshoot segmentOvershoot{1.2, 2.2};
// The hub and the metal ring arrive with the disc.
constexpr double hubSeconds = 0.3;
constexpr double hubRadius = 56;
constexpr double discRadius = 152;

// Cubic ease-out of a linear progress.
double easeOutCubic(double progress) { return 1 - std::pow(1 - progress, 3); }

// One frame of the wheel, `age` seconds after it opened.
class Frame {
public:
    Frame(const WheelState& state, double age, const Palette& palette)
        : state_(state), palette_(palette), age_(age), metal_(palette.metal(state.mode)),
          selFill_(palette.selFill(state.mode)), selText_(palette.selText(state.mode))
    {
    }

    // No window blur behind the panel here: a translucent disc keeps the glass slices readable
    // over whatever is below. Only the shadow outside the disc shows.
    void glassBackdrop(QPainter& painter, const QColor& shadowColour) const
    {
        const QRectF canvas(0, 0, side, side);
        const bool darkGlass = palette_.text.lightnessF() > 0.5;
        painter.setPen(Qt::NoPen);
        painter.setBrush(darkGlass ? QColor(38, 38, 40, 200) : QColor(246, 246, 248, 210));
        painter.drawEllipse(centre, discRadius, discRadius);
        QPainterPath outside;
        outside.addRect(canvas);
        outside.addEllipse(centre, discRadius, discRadius);
        painter.save();
        painter.setClipPath(outside);
        Draw::withShadow(painter, canvas, {Draw::offsetFromYUp({0, -6}), 26, shadowColour}, [&](QPainter& p) {
            p.setPen(Qt::NoPen);
            p.setBrush(Qt::black);
            p.drawEllipse(centre, discRadius, discRadius);
        });
        painter.restore();
    }

    void emptyMessage(QPainter& painter, const QColor& shadowColour) const
    {
        if (!palette_.glass)
            Draw::withShadow(
                painter, QRectF(0, 0, side, side), {Draw::offsetFromYUp({0, -4}), 14, shadowColour}, [&](QPainter& p) {
                    p.setPen(Qt::NoPen);
                    p.setBrush(palette_.slice);
                    p.drawEllipse(centre, 154, 154);
                });
        drawText(painter, centre, 130, QString::fromStdString(state_.emptyMessage), Draw::font(14, QFont::DemiBold),
            palette_.text);
    }

    // The segments, the rims and the hub: what casts the shadow.
    void ring(QPainter& p) const
    {
        const double fontSize = labelSize(state_.cards, palette_, state_.mode);
        for (int i = 0; i < int(state_.cards.size()); ++i)
            segment(p, i, fontSize);
        rims(p);
        hub(p);
        hubText(p);
    }

private:
    void segment(QPainter& p, int i, double fontSize) const
    {
        const int n = int(state_.cards.size());
        const double step = 360.0 / n;
        const double gap = n < 2 || palette_.glass ? 0 : (palette_.showsRing ? 0.9 : 1.4);
        const double v = size_t(i) < state_.hover.size() ? state_.hover[size_t(i)].value : 0;
        const double pop
            = segmentOvershoot.at(Draw::clamp01((age_ - segmentDelay - segmentStagger * i) / segmentSeconds));
        const double m = 90 - 360.0 * i / n;
        // A highlighted segment moves out along its middle and grows.
        const QPointF middle = centre + QPointF(4 * v * std::cos(m * M_PI / 180), 4 * v * std::sin(m * M_PI / 180));
        const double innerRadius = pop < 1 ? inner + 2 * (1 - std::max(pop, 0.0)) : inner;
        const double outerRadius = inner + pop * (90 + 8 * v);
        p.save();
        p.setOpacity(p.opacity() * Draw::clamp01(1.4 * pop));
        const auto shape = n == 1
            ? ringSegment(middle, innerRadius, outerRadius, 0, 360)
            : ringSegment(middle, innerRadius, outerRadius, m - step / 2 + gap, m + step / 2 - gap);
        p.fillPath(shape, Draw::blended(palette_.slice, v, selFill_));
        p.strokePath(shape, QPen(Draw::blended(palette_.sliceLine, v, metal_), 1 + 0.6 * v));
        const QString label = lines(state_.cards[size_t(i)].label, palette_, state_.mode).join(u'\n');
        drawText(p, Draw::polarFromYUp(middle, (innerRadius + outerRadius) / 2, m, side), 130, label,
            labelFont(fontSize * (1 + 0.06 * v), palette_), Draw::blended(palette_.text, v, selText_));
        p.restore();
    }

    void rims(QPainter& p) const
    {
        if (palette_.glass) {
            QColor edge = palette_.sliceLine;
            edge.setAlphaF(std::min(1.0f, edge.alphaF() * 1.6f));
            p.setPen(QPen(edge, 1));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(centre, 151.5, 151.5);
        }
        if (palette_.showsRing) {
            p.setPen(QPen(Draw::withAlpha(metal_, 0.55 * Draw::clamp01(age_ / hubSeconds)), 0.8));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(centre, 157, 157);
        }
    }

    void hub(QPainter& p) const
    {
        const double hubHover = Draw::clamp01(state_.centerHover.value);
        const double radius = hubRadius * (0.6 + 0.4 * discOvershoot.at(Draw::clamp01(age_ / hubSeconds)))
            * (1 - 0.04 * state_.centerHover.value);
        p.setBrush(Draw::blended(palette_.center, 0.15 * hubHover, palette_.title));
        p.setPen(palette_.showsRing ? QPen(Draw::withAlpha(metal_, 0.7), 0.8) : QPen(palette_.sliceLine, 1));
        p.drawEllipse(centre, radius, radius);
    }

    // "Cancelar" over the hub; else the highlighted entry's detail; else the title, the files and
    // the pager.
    void hubText(QPainter& p) const
    {
        const QFont title = titleFont(12.5);
        if (state_.overCenter) {
            drawText(p, centre, 120, QStringLiteral("Cancelar"), title, palette_.title);
            return;
        }
        p.fillPath(Sparkle::path(Draw::fromYUp(QRectF(centre.x() - 6.5, centre.y() + 18, 13, 13), side)), metal_);
        const auto* lit = state_.highlighted && size_t(*state_.highlighted) < state_.cards.size()
            ? &state_.cards[size_t(*state_.highlighted)]
            : nullptr;
        if (lit && lit->detail) {
            const QString detail = QString::fromStdString(*lit->detail);
            drawText(p, above(-6), 92, detail, fitCenter(detail), palette_.title);
            return;
        }
        drawText(p, above(4), 120, QString::fromStdString(state_.title), title, palette_.title);
        QString subtitle = QString::fromStdString(state_.subtitle);
        if (subtitle.size() > 16)
            subtitle = subtitle.left(14) + u'…';
        drawText(p, above(-11), 120, subtitle, Draw::font(10.5), palette_.subtitle);
        if (state_.pager)
            drawPager(p, *state_.pager, centre.y() - 27, palette_);
    }

    const WheelState& state_;
    const Palette& palette_;
    double age_;
    QColor metal_, selFill_, selText_;
};

}

double openTime(int count)
{
    return std::max(openSeconds, segmentDelay + segmentStagger * std::max(count - 1, 0) + segmentSeconds);
}

Disc paint(QPainter& painter, const WheelState& state, double now, const Palette& palette)
{
    const double age = state.shownAt == 0 ? 10 : now - state.shownAt;
    double scale = openFrom + openBy * discOvershoot.at(Draw::clamp01(age / openSeconds));
    double opacity = easeOutCubic(Draw::clamp01(age / fadeInSeconds));
    if (state.hidingAt) {
        const double h = Draw::clamp01((now - *state.hidingAt) / hideSeconds);
        opacity *= std::pow(1 - h, 3);
        scale *= 1 - hideShrink * h * h;
    }
    const Disc disc{discRadius * scale, opacity, palette.glass};

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setOpacity(painter.opacity() * opacity);
    painter.translate(centre);
    painter.scale(scale, scale);
    painter.translate(-centre);

    const Frame frame(state, age, palette);
    const QColor shadowColour = Draw::withAlpha(Qt::black, palette.shadow);
    if (palette.glass)
        frame.glassBackdrop(painter, shadowColour);
    if (state.cards.empty())
        frame.emptyMessage(painter, shadowColour);
    else if (palette.glass)
        frame.ring(painter);
    else
        Draw::withShadow(
            painter, QRectF(0, 0, side, side), {Draw::offsetFromYUp({0, -4}), 18, shadowColour}, [&](QPainter& p) {
                frame.ring(p);
            });
    painter.restore();
    return disc;
}

}

WheelView::WheelView()
{
    setFixedSize(int(WheelDrawing::side), int(WheelDrawing::side));
    setAcceptDrops(true);
    setMouseTracking(true);
    setAttribute(Qt::WA_TranslucentBackground);
    timer_.setInterval(1000 / 120);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] {
        tick();
    });
    connect(&Theme::Notifier::shared(), &Theme::Notifier::themeChanged, this, qOverload<>(&QWidget::update));
}

Palette WheelView::palette() const
{
    if (previewOverride)
        return Theme::palette(previewOverride->second, previewOverride->first);
    return Theme::palette(Theme::isDark(this), Theme::current());
}

void WheelView::setInteractive(bool interactive)
{
    interactive_ = interactive;
    if (!interactive)
        clearHighlight();
}

void WheelView::configure(std::vector<WheelEntry> entries, const std::string& title, const std::string& subtitle,
    WheelMode mode, const std::string& emptyMessage, std::optional<int> pager)
{
    state_.configure(std::move(entries), title, subtitle, mode, emptyMessage, pager);
    update();
}

void WheelView::preselect(int index)
{
    if (state_.highlighted != index)
        Haptics::tick();
    else if (!state_.overCenter)
        return;
    state_.highlighted = index;
    state_.overCenter = false;
    for (size_t i = 0; i < state_.hover.size(); ++i)
        state_.hover[i].target = int(i) == index ? 1 : 0;
    state_.centerHover.target = 0;
    startAnimation();
}

void WheelView::animateIn()
{
    state_.shownAt = MediaClock::now();
    state_.hidingAt.reset();
    onHidden_ = nullptr;
    opened_ = false;
    startAnimation();
}

void WheelView::animateOut(std::function<void()> done)
{
    if (state_.hidingAt)
        return;
    state_.hidingAt = MediaClock::now();
    onHidden_ = std::move(done);
    startAnimation();
}

void WheelView::setHighlight(std::optional<int> index, bool center)
{
    if (!index) {
        if (!state_.highlighted && state_.overCenter == center)
            return;
    } else {
        if (state_.highlighted != index)
            Haptics::tick();
        else if (state_.overCenter == center)
            return;
    }
    state_.highlighted = index;
    state_.overCenter = center;
    for (size_t i = 0; i < state_.hover.size(); ++i)
        state_.hover[i].target = index && int(i) == *index ? 1 : 0;
    state_.centerHover.target = center ? 1 : 0;
    startAnimation();
}

void WheelView::clearHighlight()
{
    if (!state_.highlighted && !state_.overCenter)
        return;
    state_.highlighted.reset();
    state_.overCenter = false;
    for (auto& spring : state_.hover)
        spring.target = 0;
    state_.centerHover.target = 0;
    startAnimation();
}

void WheelView::startAnimation()
{
    lastTick_ = MediaClock::now();
    if (!timer_.isActive())
        timer_.start();
}

void WheelView::tick()
{
    const double now = MediaClock::now();
    const double dt = std::min(now - lastTick_, 1.0 / 30);
    lastTick_ = now;
    bool resting = true;
    for (auto& spring : state_.hover) {
        spring.step(dt);
        resting = resting && spring.atRest();
    }
    state_.centerHover.step(dt);
    resting = resting && state_.centerHover.atRest();
    update();
    if (!opened_ && !state_.hidingAt && now - state_.shownAt >= WheelDrawing::openTime(int(state_.cards.size()))) {
        opened_ = true;
        if (onOpened)
            onOpened();
    }
    if (state_.hidingAt) {
        if (now - *state_.hidingAt > 0.16) {
            timer_.stop();
            state_.hidingAt.reset();
            if (auto done = std::exchange(onHidden_, nullptr))
                done();
        }
        return;
    }
    if (now - state_.shownAt > 0.7 && resting)
        timer_.stop();
}

void WheelView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const auto disc = WheelDrawing::paint(painter, state_, MediaClock::now(), palette());
    if (onFrame)
        onFrame(disc.radius, disc.opacity, disc.shown);
}

void WheelView::mouseMoveEvent(QMouseEvent* event)
{
    if (!interactive_)
        return;
    const auto point = event->position();
    const auto segment = WheelDrawing::segmentAt(point, int(state_.cards.size()));
    const bool hub = WheelDrawing::overHub(point);
    if (!segment && !hub)
        return;
    setHighlight(segment, hub);
}

void WheelView::mouseReleaseEvent(QMouseEvent* event)
{
    if (!interactive_)
        return;
    const auto point = event->position();
    if (WheelDrawing::overHub(point)) {
        if (onCenterClick)
            onCenterClick();
    } else if (auto segment = WheelDrawing::segmentAt(point, int(state_.cards.size())); segment && onClick) {
        onClick(state_.cards[size_t(*segment)]);
    }
}

void WheelView::dragEnterEvent(QDragEnterEvent* event)
{
    // Taken anywhere over the wheel, the hub included: the wheel opens with its hub under the
    // pointer, a refused enter would bring no further moves, and the move that follows decides
    // for the position (and lights what is under it).
    const auto action = DropOffers::action(event->possibleActions());
    if (!dragged_.enter(event->mimeData()) || !action)
        return event->ignore();
    event->setDropAction(*action);
    event->accept();
}

void WheelView::dragMoveEvent(QDragMoveEvent* event)
{
    const auto point = event->position();
    const auto segment = WheelDrawing::segmentAt(point, int(state_.cards.size()));
    setHighlight(segment, WheelDrawing::overHub(point));
    const auto action = DropOffers::action(event->possibleActions());
    if (!segment || !action || dragged_.at(event->mimeData()).empty())
        return event->ignore();
    event->setDropAction(*action);
    event->accept();
    if (onDragTaken)
        onDragTaken(state_.cards[size_t(*segment)]);
}

void WheelView::dragLeaveEvent(QDragLeaveEvent*) { clearHighlight(); }

void WheelView::dropEvent(QDropEvent* event)
{
    // The segment where the files are let go decides, whatever a position lit before.
    const auto segment = WheelDrawing::segmentAt(event->position(), int(state_.cards.size()));
    const auto action = DropOffers::action(event->possibleActions());
    auto files = dragged_.dropped(event->mimeData());
    if (!segment || !action || files.empty()) {
        event->ignore();
        return;
    }
    setHighlight(segment, false);
    event->setDropAction(*action);
    event->accept();
    // The pick runs after the drop returns, so the drag source finishes its side first.
    QTimer::singleShot(0, this, [this, files = std::move(files), entry = state_.cards[size_t(*segment)]] {
        if (onPick)
            onPick(files, entry);
    });
}
