#include "support/test_support.h"
#include "trim/segments_bar.h"
#include "trim/trim_motion.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

// Painting chips needs fonts, which need the widgets' application.
const bool motionWidgets = TestSupport::wantWidgets();

namespace {

std::vector<ClipRange> ranges(const std::vector<std::pair<double, double>>& list)
{
    std::vector<ClipRange> made;
    for (const auto& [start, end] : list)
        made.push_back({QUuid::createUuid(), start, end});
    return made;
}

const Chips::Chip& chip(const Chips::Strip& strip, const ClipRange& range)
{
    for (const auto& candidate : strip.chips)
        if (candidate.range.id == range.id)
            return candidate;
    throw std::runtime_error("no chip for the range");
}

QImage still(const Chips::Strip& strip, double now)
{
    QImage image(420, 30, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    Chips::paint(painter, strip, now, Qt::black);
    return image;
}

Chips::Strip atRest(const std::vector<ClipRange>& segments, int active)
{
    Chips::Strip strip;
    Chips::follow(strip, segments, active, 0);
    return strip;
}

}

TEST(TrimMotion, EveryCurveLeavesZeroAndComesToRestOnOne)
{
    const double mid = 0.12;
    for (auto* curve : {TrimMotion::selection, TrimMotion::scissors, TrimMotion::several, TrimMotion::chipActive,
             TrimMotion::chipList}) {
        EXPECT_EQ(curve(0), 0);
        EXPECT_GT(curve(mid), 0.3);
        EXPECT_LT(curve(mid), 1.1);
        double highest = 0;
        for (double t = 0; t < TrimMotion::settled(); t += 0.005)
            highest = std::max(highest, curve(t));
        EXPECT_LT(highest, 1.05) << "a small swing past the end at most";
        EXPECT_EQ(curve(TrimMotion::settled()), 1);
        EXPECT_EQ(curve(TrimMotion::settled() + 100), 1);
        EXPECT_EQ(curve(0 - TrimMotion::longAgo), 1) << "a change long ago is over";
    }
    EXPECT_LT(TrimMotion::settled(), 1.5);
}

TEST(ChipStripMotion, ARemovedChipFadesWhereItStoodAndIsThenGone)
{
    const auto segments = ranges({{1, 2}, {3, 4}, {5, 6}});
    auto strip = atRest(segments, 1);
    const auto rests = Chips::layout(segments);
    EXPECT_EQ(Chips::look(chip(strip, segments[2]), 0).rect, rests[2]) << "the first strip shows at rest";
    EXPECT_EQ(Chips::look(chip(strip, segments[1]), 0).active, 1);

    const std::vector<ClipRange> after{segments[0], segments[2]};
    const auto afterRests = Chips::layout(after);
    Chips::follow(strip, after, 0, 10);
    const double end = 10 + TrimMotion::settled();
    const auto& gone = chip(strip, segments[1]);
    EXPECT_EQ(Chips::look(gone, 10).opacity, 1);
    EXPECT_GT(Chips::look(gone, 10.1).opacity, 0);
    EXPECT_LT(Chips::look(gone, 10.1).opacity, 1);
    EXPECT_EQ(Chips::look(gone, 10.1).rect, rests[1]) << "it fades where it stood";
    EXPECT_EQ(Chips::look(gone, end).opacity, 0);

    // The last chip slides left into the room; the first becomes active by degrees.
    const auto& last = chip(strip, segments[2]);
    EXPECT_EQ(Chips::look(last, 10).rect, rests[2]);
    EXPECT_LT(Chips::look(last, 10.1).rect.x(), rests[2].x());
    EXPECT_GT(Chips::look(last, 10.1).rect.x(), afterRests[1].x() - 1);
    EXPECT_EQ(Chips::look(last, end).rect, afterRests[1]);
    const double lit = Chips::look(chip(strip, segments[0]), 10.05).active;
    EXPECT_GT(lit, 0);
    EXPECT_LT(lit, 1);

    const auto first = still(strip, 10), middle = still(strip, 10.1), last_ = still(strip, end);
    EXPECT_NE(first, middle);
    EXPECT_NE(middle, last_);
    EXPECT_EQ(last_, still(atRest(after, 0), 0)) << "at the end nothing of the removed chip shows";
    Chips::follow(strip, after, 0, end);
    EXPECT_EQ(strip.chips.size(), 2u);
}

TEST(ChipStripMotion, ASplitOffChipFadesInAndNewTimesReshapeAtOnce)
{
    auto segments = ranges({{0, 10}});
    auto strip = atRest(segments, 0);
    auto split = segments;
    split[0].end = 4;
    split.push_back({QUuid::createUuid(), 4.5, 10});
    Chips::follow(strip, split, 1, 10);
    const auto& fresh = chip(strip, split[1]);
    EXPECT_EQ(Chips::look(fresh, 10).opacity, 0);
    EXPECT_GT(Chips::look(fresh, 10.1).opacity, 0);
    EXPECT_EQ(Chips::look(fresh, 10 + TrimMotion::settled()).opacity, 1);
    EXPECT_EQ(Chips::look(fresh, 10).active, 1) << "it arrives active";
    EXPECT_EQ(Chips::look(chip(strip, split[0]), 10).active, 1);
    EXPECT_EQ(Chips::look(chip(strip, split[0]), 10 + TrimMotion::settled()).active, 0);

    // Dragging a handle changes times, not ranges: the chip takes its new width at once.
    Chips::settle(strip);
    auto dragged = split;
    dragged[0].end = 3.25;
    Chips::follow(strip, dragged, 1, 20);
    EXPECT_EQ(Chips::look(chip(strip, dragged[1]), 20).rect, Chips::layout(dragged)[1]);
    EXPECT_EQ(Chips::restsAt(strip), TrimMotion::longAgo + TrimMotion::settled());
}
