#pragma once

#include "core/base/settings.h"
#include "menus/spring.h"
#include "menus/wheel_entry.h"

#include <QPointF>
#include <QSizeF>

#include <optional>
#include <string>
#include <vector>

// The card fan's model and its geometry. Everything here is designed with y growing upwards
// (origin at the canvas's bottom left); the drawing kit turns it into Qt's y-down.

// Everything one frame of the fan is painted from. The widget owns one and steps its springs;
// renders and tests build their own.
struct FanState {
    QSizeF size{660, 450};
    std::vector<WheelEntry> cards;  // left to right
    std::string title;
    std::string subtitle;
    WheelMode mode = WheelMode::convert;
    std::string emptyMessage;
    std::optional<int> pager;  // the current mode's dot; none without dots
    std::optional<int> highlighted;  // under the pointer or preselected
    std::vector<Spring> lift;  // one per card: 0 resting, 1 raised
    std::optional<int> picked;  // makes the close play the pick
    double shownAt = 0;  // 0: never shown, so drawn fully dealt
    std::optional<double> hidingAt;
    bool opensDown = false;  // hangs from a pivot near the top edge
    bool numbered = false;  // cards carry 1, 2, 3…

    double liftOf(int index) const;  // 0 beyond the springs
    bool validCard(std::optional<int> index) const { return index && *index >= 0 && *index < int(cards.size()); }
};

namespace FanGeometry {

constexpr double cardW = 84;
constexpr double cardH = 122;
constexpr double radius = 262;  // pivot to a resting card's centre
constexpr double pivotInset = 28;  // pivot above the bottom edge (below the top when opening down)
constexpr double anchorRise = 167;  // the point under the pointer, above the pivot
constexpr double hitInner = 195;
constexpr double hitOuter = 363;
constexpr double raise = 20;  // extra distance of a fully lifted card
constexpr double pickClose = 0.58;  // seconds of the close after a pick
constexpr double plainClose = 0.16;

// Degrees between neighbours: 17 up to five cards, then at most 96 across the whole fan (and
// never more than 13); 0 for a single card.
double step(int count);
// Card i's angle from straight up, positive to the right.
double baseAngle(int index, int count);
QPointF pivot(QSizeF size, bool opensDown);
QPointF anchor(QSizeF size, bool opensDown);
// Centre of a card at `angle` degrees and `distance` from the pivot.
QPointF centre(QSizeF size, bool opensDown, double angle, double distance);
// Counter-clockwise turn of that card, so that its top points away from the pivot.
double rotation(double angle, bool opensDown);
// Halves go away from zero, so a point exactly between two cards takes the outer one.
int roundHalfAway(double value);
// The card under a point, or none: only inside the ring 195…363 around the pivot, on the open
// side, and within the fan's spread.
std::optional<int> hit(QPointF point, int count, QSizeF size, bool opensDown);
// The outline of where hit() finds a card, as a polygon (y up).
std::vector<QPointF> hitOutline(int count, QSizeF size, bool opensDown);
// Where, across a resting card (its own coordinates: origin at its centre, y up), its right
// neighbour begins at height `y`: the card's own edge, 42, where no neighbour covers it. The
// neighbour leans away, so the card shows less of itself the lower one looks.
double visibleRight(int count, double y);
// The arc between neighbours at radius 299 (what of a card its right neighbour leaves visible),
// at most a card's width; 0 for a single card.
double stripWidth(int count);

// Where and how one card stands in a frame.
struct Card {
    int index = 0;
    QPointF centre;
    double rotation = 0;  // degrees, counter-clockwise
    double scale = 1;
    double flip = 1;  // 1 face, -1 back; the card is squeezed horizontally by |flip|
    double alpha = 1;
    double lift = 0;  // clamped 0…1: colours, shadow and label layout follow it
};

struct Frame {
    double alpha = 1;  // of the empty card and the pill
    double closingScale = 1;  // about the anchor
    std::optional<double> pickTime;  // 0…1 over a pick close
    double infoAlpha = 1;
    std::vector<Card> cards;  // in painting order: the highlighted card last
};

// The frame at media time `now`.
Frame frame(const FanState& state, double now);
// Seconds from the showing until the last of `count` cards has been dealt to its place.
double dealTime(int count);

// The ten stars around a picked card, `pickTime` (0…1) into the close; none before half-way.
struct BurstStar {
    QPointF centre;
    double size;
    double alpha;
};
std::vector<BurstStar> burst(QPointF cardCentre, double pickTime, bool opensDown);

}
