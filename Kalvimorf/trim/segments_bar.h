#pragma once

#include "trim/trim_clip.h"
#include "trim/trim_motion.h"

#include <QColor>
#include <QWidget>

class ChipStrip;
class QPainter;
class QPushButton;
class TrimSession;

namespace Chips {
// "2  0:12.50 – 1:05.20".
QString text(int index, const ClipRange& range);
// Where each chip of the ranges rests, left to right, 6 apart.
std::vector<QRectF> layout(const std::vector<ClipRange>& segments);

// One chip as the strip shows it, with when each of its changes began: coming or going (the
// range joined or left the list), sliding from where it stood to where it rests, becoming active
// or leaving off. A chip whose range has gone stays where it stood until it has faded out.
struct Chip {
    ClipRange range;
    int index = 0;
    bool listed = true;
    double listedAt = TrimMotion::longAgo;
    bool active = false;
    double activeAt = TrimMotion::longAgo;
    QRectF from;
    QRectF to;
    double movedAt = TrimMotion::longAgo;
};
struct Strip {
    std::vector<Chip> chips;
    bool started = false;
};
// Follows the clip's ranges at `now`: new ranges fade in at their place, gone ones fade out where
// they stood, the rest slide to their new places and a change of the active one blends its
// colours. The first call shows the ranges at rest.
void follow(Strip& strip, const std::vector<ClipRange>& segments, int active, double now);
// Every change over; the chips that left are dropped.
void settle(Strip& strip);
// When the last change comes to rest.
double restsAt(const Strip& strip);
// The room the strip needs, its chips at rest and on their way.
QSizeF extent(const Strip& strip);

// A chip at `now`: where it is, how visible and how far active (0 to 1).
struct Look {
    QRectF rect;
    double opacity = 1;
    double active = 0;
};
Look look(const Chip& chip, double now);
// Paints the chips; with a `view` (the strip's part on screen, in the strip's coordinates) only
// those whose resting place lies whole inside it, so that no chip is ever cut at the edge.
void paint(QPainter& painter, const Strip& strip, double now, const QColor& primary, const QRectF& view = {});

// The strip scrolls a chip at a time: `offset` is always the left edge of a chip (or 0). Where it
// goes so that the `active` chip lies whole in a view `width` wide, moving as little as it can
// from `offset`, and showing no empty room at the end while earlier chips would fit there.
double scrolled(const std::vector<QRectF>& rests, int active, double offset, double width);
// The chips that lie whole in the view from `offset`, `width` wide.
std::vector<int> shown(const std::vector<QRectF>& rests, double offset, double width);
}

// The clip editor's row of ranges: a chip per range (a click makes it active and seeks to its
// start) and the commands new range, split, remove and back to a single cut.
class SegmentsBar : public QWidget {
    Q_OBJECT
public:
    SegmentsBar(TrimSession& session, TrimClip& clip, QWidget* parent = nullptr);
    // Reads the clip again: chips that came, went or changed start moving now.
    void refresh();
    // Every chip at rest, for stills.
    void settle();
    // The chip strip and the chips it shows whole, for tests.
    QWidget* strip() const;
    std::vector<int> shownChips() const;

private:
    TrimSession& session_;
    TrimClip& clip_;
    ChipStrip* chips_;
    QPushButton* remove_;
};
