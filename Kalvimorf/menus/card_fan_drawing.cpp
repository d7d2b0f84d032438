#include "menus/card_fan_drawing.h"

#include "menus/drawing_kit.h"
#include "menus/sparkle.h"

#include <QDataStream>
#include <QFontMetricsF>
#include <QIODevice>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <optional>
#include <tuple>

namespace FanLabels {

namespace {

QFont labelFont(double size, double kern)
{
    QFont font = Draw::font(size, QFont::DemiBold);
    font.setLetterSpacing(QFont::AbsoluteSpacing, kern);
    return font;
}

double widestLine(const QString& text, const QFont& font)
{
    const QFontMetricsF metrics(font);
    double widest = 0;
    for (const auto& line : text.split(u'\n'))
        widest = std::max(widest, metrics.horizontalAdvance(line));
    return widest;
}

// Labels keep below this height: the corner's star and number begin just above it.
constexpr double labelTop = 37;
// Room kept between a label and an edge, the neighbour's included (its shadow darkens the rest).
constexpr double margin = 4;

double lineSpacing(double size, double kern) { return QFontMetricsF(labelFont(size, kern)).lineSpacing(); }

// Sizes from `largest` down to `smallest` in half points: the first that `fits`, else `fallback`.
template <typename Fits> double largest(double from, double smallest, double fallback, Fits fits)
{
    for (double size = from; size >= smallest - 1e-9; size -= 0.5)
        if (fits(size))
            return size;
    return fallback;
}

Fit wideFit(const QString& broken, double kern)
{
    const double size = largest(17, 9.5, 9, [&](double s) {
        return widestLine(broken, labelFont(s, kern)) <= 70;
    });
    return {Layout::wide, broken, size, {0, 14}, 76};
}

// Upright under the corner, as wide as the neighbour leaves the lowest line.
std::optional<Fit> stripFit(const QString& text, int count, double kern)
{
    const double left = -FanGeometry::cardW / 2 + margin + 1;
    const int lines = int(text.count(u'\n')) + 1;
    auto placed = [&](double size) -> Fit {
        const double height = lines * lineSpacing(size, kern);
        const double right = FanGeometry::visibleRight(count, labelTop - height) - margin;
        return {Layout::strip, text, size, {(left + right) / 2, labelTop - height / 2}, right - left};
    };
    auto fits = [&](double size) {
        return widestLine(text, labelFont(size, kern)) <= placed(size).width;
    };
    if (FanGeometry::stripWidth(count) < 40 || !fits(10.5))
        return std::nullopt;
    return placed(largest(15, 10, 9.5, fits));
}

// Turned to read upwards, centred across what the neighbour leaves at the text's lower end.
Fit sidewaysFit(const QString& label, int count, double kern)
{
    constexpr double middle = 2, longest = 2 * (labelTop - middle);
    auto across = [&](double size) {
        const double bottom = middle - std::min(widestLine(label, labelFont(size, kern)), longest) / 2;
        return FanGeometry::visibleRight(count, bottom) + FanGeometry::cardW / 2;
    };
    const double size = largest(13, 9, 8.5, [&](double s) {
        return widestLine(label, labelFont(s, kern)) <= longest && lineSpacing(s, kern) <= across(s) - 2 * margin;
    });
    return {Layout::sideways, label, size, {-FanGeometry::cardW / 2 + across(size) / 2, middle}, longest};
}

Fit measure(const QString& label, bool wide, int count, double kern)
{
    QString broken = label;
    broken.replace(u' ', u'\n');
    if (wide)
        return wideFit(broken, kern);
    for (const auto& candidate : {label, broken})
        if (auto strip = stripFit(candidate, count, kern))
            return *strip;
    return sidewaysFit(label, count, kern);
}

}

Fit fit(const QString& label, bool wide, int count, double kern)
{
    // Measuring is the costly part of a frame and its answer never changes for a label.
    using Key = std::tuple<QString, bool, int, double>;
    thread_local std::map<Key, Fit> known;
    const Key key{label, wide, wide ? 0 : count, kern};
    if (auto found = known.find(key); found != known.end())
        return found->second;
    if (known.size() > 512)
        known.clear();
    return known.emplace(key, measure(label, wide, count, kern)).first->second;
}

}

namespace {

constexpr quint64 cardShadowKey = 0xfa2c4b0d;
constexpr quint64 pillShadowKey = 0x9111ull << 32;  // plus the pill's width
const QRectF body(-42, -61, 84, 122);

struct Colours {
    QColor face, edge, text, detail, selFill, selText;
};

// Glass palettes bring no card colours of their own: a fixed face and edge for light or dark,
// told apart by the palette's text, which is light on dark.
Colours colours(const Palette& palette, WheelMode mode)
{
    Colours c{
        palette.slice, palette.sliceLine, palette.text, palette.subtitle, palette.selFill(mode), palette.selText(mode)};
    if (palette.glass) {
        const bool dark = palette.text.lightnessF() > 0.5;
        c.face = dark ? QColor::fromRgbF(43 / 255.f, 43 / 255.f, 46 / 255.f, 0.97f) : QColor::fromRgbF(1, 1, 1, 0.97f);
        c.edge = dark ? QColor::fromRgbF(1, 1, 1, 0.12f) : QColor::fromRgbF(0, 0, 0, 0.1f);
    }
    return c;
}

QPainterPath roundedRect(const QRectF& rect, double radius)
{
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

// Text centred on `centre` in y-up space, in a box `width` wide; lines that still do not fit lose
// their tail.
void drawText(
    QPainter& painter, QPointF centre, double width, const QString& text, const QFont& font, const QColor& colour)
{
    painter.save();
    Draw::textSpaceAt(painter, centre);
    painter.setFont(font);
    painter.setPen(colour);
    QStringList lines = text.split(u'\n');
    for (auto& line : lines)
        line = Draw::elided(line, font, width + 0.5);
    painter.drawText(QRectF(-width / 2, -200, width, 400), Qt::AlignCenter, lines.join(u'\n'));
    painter.restore();
}

void fillBody(QPainter& painter, const QColor& fill, const QColor& edge)
{
    static const QPainterPath shape = roundedRect(body, 11);
    static const QPainterPath outline = roundedRect(body.adjusted(0.5, 0.5, -0.5, -0.5), 11);
    painter.fillPath(shape, fill);
    painter.strokePath(outline, QPen(edge, 1));
}

// A card body over its shadow, with whatever `face` paints on it. The whole picture is kept and
// laid down in one go: the shadow then turns with the card, by at most a couple of points at the
// fan's ends, and a frame draws one image per card instead of two.
void cardBody(QPainter& painter, const QColor& fill, const QColor& edge, double shadowAlpha, const QByteArray& key,
    const std::function<void(QPainter&)>& face)
{
    Draw::cached(painter, body.adjusted(-22, -24, 22, 20), key, [&](QPainter& card) {
        Draw::withShadow(
            card, body, {Draw::vectorFromYUp({0, -3}), 12, Draw::withAlpha(Qt::black, shadowAlpha)},
            [&](QPainter& p) {
                fillBody(p, fill, edge);
                face(p);
            },
            cardShadowKey);
    });
}

void drawBack(QPainter& painter)
{
    static const QPainterPath frame = roundedRect(QRectF(-36, -55, 72, 110), 7);
    static const QPainterPath inside = roundedRect(QRectF(-34, -53, 68, 106), 6);
    static const QPainterPath pattern = [] {
        QPainterPath stars;
        for (int row = 0; - 51 + 14 * row < 55; ++row)
            for (double x = row % 2 ? -23 : -32; x < 36; x += 18)
                stars.addPath(Sparkle::path(QRectF(x, -51 + 14 * row, 7, 7)));
        return stars;
    }();
    static const QPainterPath emblem = Sparkle::path(QRectF(-15, -15, 30, 30));
    painter.strokePath(frame, QPen(Draw::withAlpha(Qt::white, 0.55), 1));
    painter.save();
    painter.setClipPath(inside, Qt::IntersectClip);
    painter.fillPath(pattern, Draw::withAlpha(Qt::white, 0.22));
    painter.restore();
    painter.fillPath(emblem, Draw::withAlpha(Qt::white, 0.85));
}

// The face of card `index`, in card space (origin at its centre, y up).
void drawFace(
    QPainter& painter, const FanState& state, const FanGeometry::Card& card, const Palette& palette, const Colours& c)
{
    if (card.flip < 0) {
        drawBack(painter);
        return;
    }
    const int n = int(state.cards.size());
    const QString label
        = Theme::displayLabel(QString::fromStdString(state.cards[size_t(card.index)].label), palette, state.mode);
    const QColor text = Draw::blended(c.text, card.lift, c.selText);
    const QColor accent = Draw::blended(palette.metal(state.mode), card.lift, c.selText);
    painter.fillPath(Sparkle::path(QRectF(-33, 43, 9, 9)), accent);
    if (state.numbered)
        drawText(painter, {-17, 47.5}, 20, QString::number(card.index + 1), Draw::font(11, QFont::DemiBold),
            Draw::withAlpha(text, text.alphaF() * 0.55));

    const auto fit = FanLabels::fit(label, card.lift > 0.5 || card.index == n - 1, n, palette.labelKern);
    QFont font = Draw::font(fit.size, QFont::DemiBold);
    font.setLetterSpacing(QFont::AbsoluteSpacing, palette.labelKern);
    switch (fit.layout) {
    case FanLabels::Layout::wide:
    case FanLabels::Layout::strip: drawText(painter, fit.centre, fit.width, fit.text, font, text); break;
    case FanLabels::Layout::sideways:
        painter.save();
        painter.translate(fit.centre);
        painter.rotate(90);  // reads upwards
        drawText(painter, {0, 0}, fit.width, fit.text, font, text);
        painter.restore();
        break;
    }
}

// Everything a card's picture depends on.
QByteArray cardKey(const FanState& state, const FanGeometry::Card& card, const Palette& palette, const Colours& c)
{
    const int n = int(state.cards.size());
    QByteArray key;
    QDataStream out(&key, QIODevice::WriteOnly);
    out << QString::fromStdString(state.cards[size_t(card.index)].label) << int(std::lround(card.lift * 512))
        << (card.flip < 0) << (state.numbered ? card.index + 1 : 0) << (card.index == n - 1) << n << int(state.mode)
        << c.face.rgba() << c.edge.rgba() << c.text.rgba() << c.selFill.rgba() << c.selText.rgba()
        << palette.metal(state.mode).rgba() << palette.labelKern << palette.naturalCase;
    return key;
}

void drawCard(
    QPainter& painter, const FanState& state, const FanGeometry::Card& card, const Palette& palette, const Colours& c)
{
    painter.save();
    painter.translate(card.centre);
    painter.rotate(card.rotation);
    painter.scale(card.scale * std::max(std::abs(card.flip), 0.001), card.scale);
    const QRectF bounds = body.adjusted(-24, -24, 24, 24);  // with its shadow
    Draw::layer(painter, bounds, card.alpha, [&](QPainter& p) {
        const QColor face = Draw::blended(c.face, card.lift, c.selFill);
        const QColor fill = card.flip >= 0 ? face : Draw::blended(palette.metal(state.mode), 0.35, Qt::black);
        cardBody(p, fill, c.edge, palette.shadow * (1 + 0.6 * card.lift), cardKey(state, card, palette, c),
            [&](QPainter& q) {
                drawFace(q, state, card, palette, c);
            });
    });
    painter.restore();
}

QString infoText(const FanState& state)
{
    QString text;
    if (state.cards.empty() && !state.emptyMessage.empty())
        text = QString::fromStdString(state.emptyMessage);
    else if (state.validCard(state.highlighted) && state.cards[size_t(*state.highlighted)].detail)
        text = QString::fromStdString(*state.cards[size_t(*state.highlighted)].detail);
    else
        text = QString::fromStdString(state.title + " · " + state.subtitle);
    return text.replace(u'\n', u' ');
}

void drawInfo(QPainter& painter, const FanState& state, const Palette& palette, const Colours& c)
{
    const QString text = infoText(state);
    const QFont font = Draw::font(12.5, QFont::DemiBold);
    const double width = std::min(QFontMetricsF(font).horizontalAdvance(text) + 30, state.size.width() - 40);
    const double midX = state.size.width() / 2;
    const double midY = state.opensDown ? 26 : state.size.height() - 26;
    const QRectF pill(midX - width / 2, midY - 14, width, 28);
    const QPainterPath shape = roundedRect(pill, 14);
    Draw::withShadow(
        painter, pill, {Draw::vectorFromYUp({0, -2}), 8, Draw::withAlpha(Qt::black, palette.shadow * 0.8)},
        [&](QPainter& p) {
            p.fillPath(shape, c.face);
        },
        pillShadowKey + quint64(std::lround(width * 4)));
    drawText(painter, pill.center(), width - 16, text, font, palette.title);
    if (!state.pager)
        return;
    const double lefts[] = {midX - 16, midX - 3, midX + 10};
    for (int j = 0; j < 3; ++j) {
        const bool current = j == *state.pager;
        const QRectF dot(lefts[j], pill.top() - 10, current ? 9 : 5, 4);
        painter.fillPath(roundedRect(dot, 2), current ? palette.metal(WheelModes::all()[size_t(j)]) : palette.dot);
    }
}

}

void paintFan(QPainter& painter, const FanState& state, double now, const Palette& palette)
{
    const auto frame = FanGeometry::frame(state, now);
    const Colours c = colours(palette, state.mode);
    painter.save();
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing | QPainter::SmoothPixmapTransform);
    Draw::flipToYUp(painter, state.size.height());
    const QPointF anchor = FanGeometry::anchor(state.size, state.opensDown);
    painter.translate(anchor);
    painter.scale(frame.closingScale, frame.closingScale);
    painter.translate(-anchor);
    painter.setOpacity(frame.alpha);

    if (state.cards.empty()) {
        const QPointF centre(state.size.width() / 2, state.opensDown ? state.size.height() - 290 : 290);
        painter.save();
        painter.translate(centre);
        Draw::withShadow(
            painter, body, {Draw::vectorFromYUp({0, -3}), 12, Draw::withAlpha(Qt::black, palette.shadow)},
            [&](QPainter& p) {
                fillBody(p, c.face, c.edge);
            },
            cardShadowKey);
        painter.fillPath(Sparkle::path(QRectF(-13, -13, 26, 26)), c.detail);
        painter.restore();
        drawInfo(painter, state, palette, c);
        painter.restore();
        return;
    }
    // Each card carries its own alpha in place of the frame's.
    painter.setOpacity(1);
    for (const auto& card : frame.cards) {
        drawCard(painter, state, card, palette, c);
        if (frame.pickTime && state.picked == card.index)
            for (const auto& star : FanGeometry::burst(card.centre, *frame.pickTime, state.opensDown)) {
                painter.setOpacity(star.alpha);
                const QRectF square(star.centre - QPointF(star.size / 2, star.size / 2), QSizeF(star.size, star.size));
                painter.fillPath(Sparkle::path(square), palette.metal(state.mode));
            }
    }
    painter.setOpacity(frame.infoAlpha);
    drawInfo(painter, state, palette, c);
    painter.restore();
}
