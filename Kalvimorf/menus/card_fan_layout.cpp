#include "menus/card_fan_layout.h"

#include <algorithm>
#include <cmath>
#include <numbers>

double FanState::liftOf(int index) const
{
    return index >= 0 && index < int(lift.size()) ? lift[size_t(index)].value : 0;
}

namespace FanGeometry {

namespace {

constexpr double degrees = std::numbers::pi / 180;

double clamp01(double value) { return std::clamp(value, 0.0, 1.0); }

double cube(double value) { return value * value * value; }

// The middle card is dealt first, each step outwards this much later; each takes dealSeconds.
constexpr double dealDelay = 0.018;
constexpr double dealSeconds = 0.32;

}

double dealTime(int count) { return dealDelay * std::max(count - 1, 0) / 2.0 + dealSeconds; }

double step(int count)
{
    if (count <= 1)
        return 0;
    if (count <= 5)
        return 17;
    return std::min(96.0 / (count - 1), 13.0);
}

double baseAngle(int index, int count) { return (index - (count - 1) / 2.0) * step(count); }

QPointF pivot(QSizeF size, bool opensDown)
{
    return {size.width() / 2, opensDown ? size.height() - pivotInset : pivotInset};
}

QPointF anchor(QSizeF size, bool opensDown)
{
    return {size.width() / 2, opensDown ? size.height() - pivotInset - anchorRise : pivotInset + anchorRise};
}

QPointF centre(QSizeF size, bool opensDown, double angle, double distance)
{
    const QPointF p = pivot(size, opensDown);
    const double up = std::cos(angle * degrees) * distance;
    return {p.x() + std::sin(angle * degrees) * distance, opensDown ? p.y() - up : p.y() + up};
}

double rotation(double angle, bool opensDown) { return opensDown ? angle : -angle; }

int roundHalfAway(double value) { return int(std::lround(value)); }

namespace {

// Degrees on either side of straight up within which a point of the ring finds a card.
double hitSpread(int count)
{
    if (count == 1)
        return 14;
    const double s = step(count);
    const double half = count <= 5 ? 8.5 : s / 2;
    return (count - 1) / 2.0 * s + half + 3;
}

}

std::optional<int> hit(QPointF point, int count, QSizeF size, bool opensDown)
{
    if (count <= 0)
        return std::nullopt;
    const QPointF p = pivot(size, opensDown);
    const double dx = point.x() - p.x();
    const double dy = opensDown ? p.y() - point.y() : point.y() - p.y();
    const double r = std::hypot(dx, dy);
    if (!(dy > 0 && r >= hitInner && r <= hitOuter))
        return std::nullopt;
    const double a = std::atan2(dx, dy) / degrees;
    const double spread = hitSpread(count);
    if (count == 1)
        return std::abs(a) < spread ? std::optional<int>(0) : std::nullopt;
    if (std::abs(a) > spread)
        return std::nullopt;
    return std::clamp(roundHalfAway((count - 1) / 2.0 + a / step(count)), 0, count - 1);
}

std::vector<QPointF> hitOutline(int count, QSizeF size, bool opensDown)
{
    std::vector<QPointF> outline;
    if (count <= 0)
        return outline;
    const double spread = std::min(hitSpread(count) + 1, 89.0);
    constexpr int steps = 32;
    // Out along the outer arc from the left, back along the inner one, a little wide of each edge:
    // the outline is drawn in whole pixels.
    for (const double r : {hitOuter + 3, hitInner - 3})
        for (int i = 0; i <= steps; ++i) {
            const double share = r > hitInner ? double(i) / steps : 1 - double(i) / steps;
            outline.push_back(centre(size, opensDown, -spread + 2 * spread * share, r));
        }
    return outline;
}

double visibleRight(int count, double y)
{
    if (count <= 1)
        return cardW / 2;
    const double s = step(count) * degrees;
    return std::min(cardW / 2, (radius + y) * std::tan(s) - cardW / 2 / std::cos(s));
}

double stripWidth(int count)
{
    if (count <= 1)
        return 0;
    return std::min(step(count) * degrees * 299, cardW);
}

Frame frame(const FanState& state, double now)
{
    Frame result;
    const int n = int(state.cards.size());
    const double opened = state.shownAt == 0 ? 10 : now - state.shownAt;
    result.alpha = 1 - cube(1 - clamp01(opened / 0.12));
    const bool pickClose = state.hidingAt && state.picked;
    if (state.hidingAt && !state.picked) {
        const double q = clamp01((now - *state.hidingAt) / 0.15);
        result.alpha *= cube(1 - q);
        result.closingScale = 1 - 0.06 * q * q;
    }
    double kp = 0;
    if (pickClose) {
        kp = clamp01((now - *state.hidingAt) / FanGeometry::pickClose);
        result.pickTime = kp;
    }
    // The others fold towards the middle and fade as the picked card rises.
    const double fold = 1 - cube(1 - clamp01(2.6 * kp));
    result.infoAlpha = pickClose ? cube(1 - clamp01(2.6 * kp)) : result.alpha;

    auto place = [&](int i) {
        const double u = clamp01((opened - dealDelay * std::abs(i - (n - 1) / 2.0)) / dealSeconds) - 1;
        double deal = 1 + 2.15 * cube(u) + 1.15 * u * u;  // eases out past 1 and back
        double alpha = clamp01(1.6 * deal);
        double rise = 0, turn = 1, flip = 1, extraScale = 0;
        if (pickClose && i != *state.picked) {
            deal *= 1 - 0.6 * fold;
            alpha *= 1 - fold;
        } else if (pickClose) {
            const double r = clamp01(kp / 0.75), f = clamp01(2 * kp);
            const double turned = 1 - cube(1 - f);
            rise = (1 - cube(1 - r)) * 46;
            turn = cube(1 - f);
            flip = std::cos(turned * std::numbers::pi);
            extraScale = turned * 0.1;
            const double fade = clamp01((kp - 0.6) / 0.4);
            alpha *= 1 - fade * fade;
        }
        const double lift = state.liftOf(i);
        const double angle = turn * deal * baseAngle(i, n);
        const double distance = rise + raise * lift + (0.86 + 0.14 * std::min(deal, 1.05)) * radius;
        result.cards.push_back({i, centre(state.size, state.opensDown, angle, distance),
            rotation(angle, state.opensDown), 1 + 0.07 * lift + extraScale, flip, alpha, clamp01(lift)});
    };
    const bool raisedOnTop = state.validCard(state.highlighted);
    for (int i = 0; i < n; ++i)
        if (!raisedOnTop || i != *state.highlighted)
            place(i);
    if (raisedOnTop)
        place(*state.highlighted);
    return result;
}

std::vector<BurstStar> burst(QPointF cardCentre, double pickTime, bool opensDown)
{
    std::vector<BurstStar> stars;
    if (pickTime <= 0.5)
        return stars;
    const double g = 2 * pickTime - 1, grown = clamp01(g);
    const double spread = 1 - cube(1 - grown);
    for (int j = 0; j < 10; ++j) {
        const double angle = (36 * j + 10) * degrees;
        const double distance = (j % 2 ? 0.7 : 1) * spread * 46 + 26;
        // Stretched vertically, away from the pivot, so the burst rises with the card.
        const double vertical = std::sin(angle) * distance * 1.3;
        stars.push_back({cardCentre + QPointF(std::cos(angle) * distance, opensDown ? -vertical : vertical),
            (j % 3 ? 7 : 10) * (1 - 0.6 * g), 1 - grown * grown});
    }
    return stars;
}

}
