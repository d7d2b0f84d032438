// The burst panel on a real X server (run through support/with-x): a claimed pick ends in a
// panel that shows at the pick point, lets input through, and is gone 2.4 s later on the burst's
// clock, which the test drives, so that a busy machine's late timers cannot move the figure.
#include "core/state/magic_burst.h"
#include "core/state/media_clock.h"
#include "menus/burst_panel.h"
#include "support/fakes.h"
#include "support/private_home.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QWidget>

#include <gtest/gtest.h>

namespace {
// Counts the frames a widget paints.
struct Frames final : QObject {
    int painted = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++painted;
        return false;
    }
};

BurstPanel* visiblePanel()
{
    for (auto* widget : QApplication::topLevelWidgets())
        if (auto* panel = dynamic_cast<BurstPanel*>(widget); panel && panel->isVisible())
            return panel;
    return nullptr;
}

// Runs the event loop until `condition` holds or `seconds` pass; answers the time it took.
double pumpUntil(const std::function<bool()>& condition, double seconds)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition() && timer.elapsed() < seconds * 1000)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    return condition() ? timer.elapsed() / 1000.0 : -1;
}
}

TEST(BurstPanelX11, ShowsAtThePickAndGoesAway)
{
    auto clock = std::make_shared<Fakes::Clock>();
    MediaClock::Source::set(clock);
    BurstPanel::install();
    MagicBurst::notePick({400, 300});
    MagicBurst::noteJobAdded();
    ASSERT_TRUE(MagicBurst::celebrate());
    const double shownAfter = pumpUntil(
        [] {
            return visiblePanel() != nullptr;
        },
        5);
    ASSERT_GE(shownAfter, 0);
    EXPECT_GT(shownAfter, 0.6);  // not before 0.75 s after the pick
    auto* panel = visiblePanel();
    EXPECT_EQ(panel->geometry(), QRect(240, 140, 320, 320));
    EXPECT_TRUE(panel->testAttribute(Qt::WA_TransparentForMouseEvents));
    const auto gone = [] {
        return visiblePanel() == nullptr;
    };
    // Just short of 2.4 s on its clock the panel stays, though 2.4 s pass on the wall: a frame
    // painted after them shows that the panel had its chance to go.
    Frames frames;
    panel->installEventFilter(&frames);
    clock->seconds += 2.39;
    pumpUntil(gone, 2.6);
    const int painted = frames.painted;
    pumpUntil(
        [&] {
            return gone() || frames.painted > painted;
        },
        5);
    EXPECT_FALSE(gone()) << "the panel went on a clock of its own";
    clock->seconds += 0.02;
    EXPECT_GE(pumpUntil(gone, 5), 0) << "the panel stayed past 2.4 s";
    MediaClock::Source::set(nullptr);
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    const TestSupport::PrivateHome home;
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
