#include "menus/wheel_view.h"

#include "core/state/media_clock.h"
#include "menus/desktop_theme.h"
#include "menus/drawing_kit.h"
#include "menus/haptics.h"
#include "menus/sparkle.h"

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

Disc paint(QPainter& painter, const WheelState& state, double now, const Palette& palette)
{
    const double t = state.shownAt == 0 ? 10 : now - state.shownAt;
    const double p = Draw::clamp01(t / 0.34), q = p - 1;
    double scale = 0.82 + 0.18 * (1 + 1.35 * q * q + 2.35 * q * q * q);
    double opacity = 1 - std::pow(1 - Draw::clamp01(t / 0.12), 3);
    if (state.hidingAt) {
        const double h = Draw::clamp01((now - *state.hidingAt) / 0.15);
        opacity *= std::pow(1 - h, 3);
        scale *= 1 - 0.07 * h * h;
    }
    const bool hasEntries = !state.cards.empty();
    const Disc disc{152 * scale, opacity, palette.glass};

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setOpacity(painter.opacity() * opacity);
    painter.translate(centre);
    painter.scale(scale, scale);
    painter.translate(-centre);

    const QColor metal = palette.metal(state.mode), selFill = palette.selFill(state.mode),
                 selText = palette.selText(state.mode);
    const QColor shadowColour = Draw::withAlpha(Qt::black, palette.shadow);
    const QRectF canvas(0, 0, side, side);

    if (palette.glass) {
        // No window blur behind the panel here: a translucent disc keeps the glass slices
        // readable over whatever is below.
        const bool darkGlass = palette.text.lightnessF() > 0.5;
        painter.setPen(Qt::NoPen);
        painter.setBrush(darkGlass ? QColor(38, 38, 40, 200) : QColor(246, 246, 248, 210));
        painter.drawEllipse(centre, 152, 152);
        // Only the shadow outside the disc shows.
        QPainterPath outside;
        outside.addRect(canvas);
        outside.addEllipse(centre, 152, 152);
        painter.save();
        painter.setClipPath(outside);
        Draw::withShadow(painter, canvas, {Draw::offsetFromYUp({0, -6}), 26, shadowColour}, [&](QPainter& p) {
            p.setPen(Qt::NoPen);
            p.setBrush(Qt::black);
            p.drawEllipse(centre, 152, 152);
        });
        painter.restore();
    }

    if (!hasEntries) {
        if (!palette.glass)
            Draw::withShadow(painter, canvas, {Draw::offsetFromYUp({0, -4}), 14, shadowColour}, [&](QPainter& p) {
                p.setPen(Qt::NoPen);
                p.setBrush(palette.slice);
                p.drawEllipse(centre, 154, 154);
            });
        drawText(painter, centre, 130, QString::fromStdString(state.emptyMessage), Draw::font(14, QFont::DemiBold),
            palette.text);
        painter.restore();
        return disc;
    }

    auto ring = [&](QPainter& p) {
        const int n = int(state.cards.size());
        const double step = 360.0 / n;
        const double gap = n < 2 || palette.glass ? 0 : (palette.showsRing ? 0.9 : 1.4);
        const double fontSize = labelSize(state.cards, palette, state.mode);
        for (int i = 0; i < n; ++i) {
            const double v = size_t(i) < state.hover.size() ? state.hover[size_t(i)].value : 0;
            const double e = Draw::clamp01((t - 0.02 - 0.022 * i) / 0.28) - 1;
            const double pop = 1 + 1.2 * e * e + 2.2 * e * e * e;
            const double m = 90 - 360.0 * i / n;
            const QPointF middle = centre + QPointF(4 * v * std::cos(m * M_PI / 180), 4 * v * std::sin(m * M_PI / 180));
            const double innerRadius = pop < 1 ? inner + 2 * (1 - std::max(pop, 0.0)) : inner;
            const double outerRadius = inner + pop * (90 + 8 * v);
            p.save();
            p.setOpacity(p.opacity() * Draw::clamp01(1.4 * pop));
            const auto shape = n == 1
                ? ringSegment(middle, innerRadius, outerRadius, 0, 360)
                : ringSegment(middle, innerRadius, outerRadius, m - step / 2 + gap, m + step / 2 - gap);
            p.fillPath(shape, Draw::blended(palette.slice, v, selFill));
            p.strokePath(shape, QPen(Draw::blended(palette.sliceLine, v, metal), 1 + 0.6 * v));
            const QString label = lines(state.cards[size_t(i)].label, palette, state.mode).join(u'\n');
            drawText(p, Draw::polarFromYUp(middle, (innerRadius + outerRadius) / 2, m, side), 130, label,
                labelFont(fontSize * (1 + 0.06 * v), palette), Draw::blended(palette.text, v, selText));
            p.restore();
        }
        if (palette.glass) {
            QColor edge = palette.sliceLine;
            edge.setAlphaF(std::min(1.0f, edge.alphaF() * 1.6f));
            p.setPen(QPen(edge, 1));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(centre, 151.5, 151.5);
        }
        if (palette.showsRing) {
            p.setPen(QPen(Draw::withAlpha(metal, 0.55 * Draw::clamp01(t / 0.3)), 0.8));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(centre, 157, 157);
        }

        // The hub.
        const double hubHover = Draw::clamp01(state.centerHover.value);
        const double hq = Draw::clamp01(t / 0.3) - 1;
        const double hub
            = 56 * (0.6 + 0.4 * (1 + 1.35 * hq * hq + 2.35 * hq * hq * hq)) * (1 - 0.04 * state.centerHover.value);
        p.setBrush(Draw::blended(palette.center, 0.15 * hubHover, palette.title));
        p.setPen(palette.showsRing ? QPen(Draw::withAlpha(metal, 0.7), 0.8) : QPen(palette.sliceLine, 1));
        p.drawEllipse(centre, hub, hub);

        const QFont title = titleFont(12.5);
        if (state.overCenter) {
            drawText(p, centre, 120, QStringLiteral("Cancelar"), title, palette.title);
            return;
        }
        p.fillPath(Sparkle::path(Draw::fromYUp(QRectF(centre.x() - 6.5, centre.y() + 18, 13, 13), side)), metal);
        const auto* lit = state.highlighted && size_t(*state.highlighted) < state.cards.size()
            ? &state.cards[size_t(*state.highlighted)]
            : nullptr;
        if (lit && lit->detail) {
            const QString detail = QString::fromStdString(*lit->detail);
            drawText(p, above(-6), 92, detail, fitCenter(detail), palette.title);
            return;
        }
        drawText(p, above(4), 120, QString::fromStdString(state.title), title, palette.title);
        QString subtitle = QString::fromStdString(state.subtitle);
        if (subtitle.size() > 16)
            subtitle = subtitle.left(14) + u'…';
        drawText(p, above(-11), 120, subtitle, Draw::font(10.5), palette.subtitle);
        if (state.pager)
            drawPager(p, *state.pager, centre.y() - 27, palette);
    };

    if (palette.glass)
        ring(painter);
    else
        Draw::withShadow(painter, canvas, {Draw::offsetFromYUp({0, -4}), 18, shadowColour}, ring);
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
    const auto action = dropAction(event->possibleActions());
    if (localFiles(event->mimeData()).empty() || !action)
        return event->ignore();
    event->setDropAction(*action);
    event->accept();
}

void WheelView::dragMoveEvent(QDragMoveEvent* event)
{
    const auto point = event->position();
    const auto segment = WheelDrawing::segmentAt(point, int(state_.cards.size()));
    setHighlight(segment, WheelDrawing::overHub(point));
    const auto action = dropAction(event->possibleActions());
    if (!segment || !action)
        return event->ignore();
    event->setDropAction(*action);
    event->accept();
}

void WheelView::dragLeaveEvent(QDragLeaveEvent*) { clearHighlight(); }

void WheelView::dropEvent(QDropEvent* event)
{
    const auto segment = WheelDrawing::segmentAt(event->position(), int(state_.cards.size()));
    const auto action = dropAction(event->possibleActions());
    auto files = localFiles(event->mimeData());
    if (!segment || segment != state_.highlighted || !action || files.empty()) {
        event->ignore();
        return;
    }
    event->setDropAction(*action);
    event->accept();
    // The pick runs after the drop returns, so the drag source finishes its side first.
    QTimer::singleShot(0, this, [this, files = std::move(files), entry = state_.cards[size_t(*segment)]] {
        if (onPick)
            onPick(files, entry);
    });
}
