#include "menus/drag_monitor.h"

#include "platform/fake_drag_input.h"
#include "support/fakes.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using namespace ModifierFlags;

constexpr double frame = 1.0 / 60;
constexpr unsigned capsLock = 0x10000;  // outside the mask: never takes part

// A monitor on the fake service with a scripted clock; callbacks are written down as words.
struct Rig {
    std::shared_ptr<FakeDragInput> input = std::make_shared<FakeDragInput>();
    std::shared_ptr<Fakes::Clock> clock = std::make_shared<Fakes::Clock>();
    TestSupport::Installed<MediaClock::Source> installed{clock};
    double& now = clock->seconds;
    DragMonitor monitor{input};
    std::vector<std::string> events;
    DragMonitor::Files lastFiles;

    explicit Rig(bool separateKeys = true)
    {
        Defaults::set("separateKeys", separateKeys);
        for (const char* key : {"key.single", "key.convert", "key.tools", "key.actions"})
            Defaults::remove(key);
        input->files = {"/tmp/a.png", "/tmp/b.png"};
        monitor.onTrigger = [this](std::optional<WheelMode> mode, const DragMonitor::Files& files) {
            events.push_back("trigger " + (mode ? WheelModes::rawValue(*mode) : std::string("cycle")));
            lastFiles = files;
        };
        monitor.onDragEnded = [this] { events.push_back("ended"); };
        monitor.onCancel = [this] { events.push_back("cancel"); };
        monitor.onRelease = [this] { events.push_back("release"); };
    }

    void tick(double seconds = frame)
    {
        now += seconds;
        monitor.tick();
    }
    // Ticks at 60 Hz for about `seconds`.
    void run(double seconds)
    {
        for (double t = 0; t < seconds - 1e-9; t += frame)
            tick();
    }
    void keys(unsigned flags)
    {
        input->flags = flags;
        tick();
    }
    void beginDrag()
    {
        input->leftButton = true;
        tick();
        ++input->count;  // the drag source claims the selection after the drag distance
        tick();
    }
    void drop()
    {
        input->leftButton = false;
        tick();
    }
    // A press held for `seconds`, then released.
    void press(unsigned flags, double seconds)
    {
        keys(flags);
        run(seconds);
        keys(0);
    }
    std::vector<std::string> take()
    {
        auto taken = std::move(events);
        events.clear();
        return taken;
    }
};

using Events = std::vector<std::string>;

TEST(DragMonitor, ModifierHeldBeforeTheDragNeverCounts)
{
    Rig rig;
    rig.keys(shift);
    rig.beginDrag();
    rig.run(0.5);
    // Another key joining it is no press of its own either.
    rig.keys(shift | command);
    rig.run(0.2);
    rig.keys(shift);
    rig.run(0.1);
    EXPECT_EQ(rig.take(), Events{});
    // Released and pressed again during the drag, it does.
    rig.keys(0);
    rig.keys(shift);
    rig.run(0.2);
    EXPECT_EQ(rig.take(), Events{"trigger convert"});
    EXPECT_EQ(rig.lastFiles, (DragMonitor::Files{"/tmp/a.png", "/tmp/b.png"}));
}

TEST(DragMonitor, SingleKeyTapFiresOnTheReleaseTick)
{
    Rig rig(false);
    rig.beginDrag();
    rig.keys(shift);
    rig.run(0.05);
    EXPECT_EQ(rig.take(), Events{});
    rig.keys(0);
    EXPECT_EQ(rig.take(), Events{"trigger cycle"});
    rig.run(0.3);
    EXPECT_EQ(rig.take(), Events{});
}

TEST(DragMonitor, SingleKeyHoldFiresOnceAtTheHoldTime)
{
    Rig rig(false);
    rig.beginDrag();
    rig.keys(shift);
    const double pressed = rig.now;
    while (rig.now + frame - pressed < DragMonitor::holdSeconds)
        rig.tick();
    EXPECT_EQ(rig.take(), Events{});
    rig.tick();
    EXPECT_EQ(rig.take(), Events{"trigger cycle"});
    rig.run(0.5);
    rig.keys(0);
    rig.run(0.2);
    EXPECT_EQ(rig.take(), Events{});
    // Each further press fires again.
    rig.press(shift, 0.03);
    rig.press(shift, 0.2);
    EXPECT_EQ(rig.take(), (Events{"trigger cycle", "trigger cycle"}));
}

TEST(DragMonitor, SeparateKeysDropTapsAndReportTheReleaseOfAHold)
{
    Rig rig;
    rig.beginDrag();
    rig.press(shift, 0.05);
    rig.run(0.2);
    EXPECT_EQ(rig.take(), Events{});
    rig.keys(command);
    rig.run(0.2);
    EXPECT_EQ(rig.take(), Events{"trigger tools"});
    rig.keys(0);
    rig.run(0.2);
    EXPECT_EQ(rig.take(), Events{"release"});
}

TEST(DragMonitor, KeysMapToModesAsTheSettingsSay)
{
    struct Case {
        const char* name;
        bool separate;
        std::map<QString, QString> settings;
        unsigned key;
        Events expected;
    };
    const std::vector<Case> cases = {
        {"convert default", true, {}, shift, {"trigger convert"}},
        {"tools default", true, {}, command, {"trigger tools"}},
        {"actions default", true, {}, control, {"trigger actions"}},
        {"option has no default mode", true, {}, option, {}},
        {"tools moved to option", true, {{"key.tools", "option"}}, option, {"trigger tools"}},
        {"tools moved away frees command", true, {{"key.tools", "option"}}, command, {}},
        {"tools off", true, {{"key.tools", "off"}}, command, {}},
        {"unknown value means the default", true, {{"key.convert", "Shift"}}, shift, {"trigger convert"}},
        {"same key: first mode wins", true, {{"key.actions", "shift"}}, shift, {"trigger convert"}},
        {"same key, convert off", true, {{"key.convert", "off"}, {"key.actions", "shift"}}, shift, {"trigger actions"}},
        {"single default shift", false, {}, shift, {"trigger cycle"}},
        {"single default ignores command", false, {}, command, {}},
        {"single command", false, {{"key.single", "command"}}, command, {"trigger cycle"}},
        {"single command ignores shift", false, {{"key.single", "command"}}, shift, {}},
        {"single unknown means shift", false, {{"key.single", "hyper"}}, shift, {"trigger cycle"}},
        {"single off", false, {{"key.single", "off"}}, shift, {}},
        {"two modifiers in one tick match nothing", true, {}, shift | command, {}},
        {"two modifiers, single key", false, {}, shift | command, {}},
        {"caps lock on does not disturb shift", true, {}, shift | capsLock, {"trigger convert"}},
    };
    for (const auto& c : cases) {
        Rig rig(c.separate);
        for (const auto& [key, value] : c.settings)
            Defaults::set(key, value);
        rig.beginDrag();
        rig.keys(c.key);
        rig.run(0.2);
        EXPECT_EQ(rig.take(), c.expected) << c.name;
    }
}

TEST(DragMonitor, SettingsAreReadAtEachFire)
{
    Rig rig;
    rig.beginDrag();
    rig.press(shift, 0.2);
    Defaults::set("key.convert", "off");
    Defaults::set("key.actions", "shift");
    rig.press(shift, 0.2);
    Defaults::set("separateKeys", false);
    rig.press(shift, 0.05);
    EXPECT_EQ(rig.take(), (Events{"trigger convert", "release", "trigger actions", "release", "trigger cycle"}));
}

TEST(DragMonitor, AModifierJoiningThePressDropsIt)
{
    Rig rig(false);
    rig.beginDrag();
    rig.keys(shift);
    rig.keys(shift | control);
    rig.run(0.2);
    rig.keys(control);  // the one left is not a fresh press either
    rig.run(0.2);
    rig.keys(0);
    EXPECT_EQ(rig.take(), Events{});
}

TEST(DragMonitor, ALetterCancelsOnceAndBlocksTheModifierUntilAllAreUp)
{
    Rig rig;
    rig.beginDrag();
    rig.keys(shift);
    rig.input->otherKey = true;
    rig.run(0.3);
    EXPECT_EQ(rig.take(), Events{"cancel"});
    rig.input->otherKey = false;
    rig.run(0.3);
    EXPECT_EQ(rig.take(), Events{});
    rig.keys(shift | command);  // still a chord while shift stays down
    rig.run(0.3);
    rig.keys(shift);
    rig.run(0.3);
    EXPECT_EQ(rig.take(), Events{});
    rig.keys(0);
    rig.press(shift, 0.2);
    EXPECT_EQ(rig.take(), (Events{"trigger convert", "release"}));
}

TEST(DragMonitor, ALetterDuringAPendingPressDropsIt)
{
    Rig rig(false);
    rig.beginDrag();
    rig.keys(shift);
    rig.input->otherKey = true;
    rig.tick();
    rig.input->otherKey = false;
    rig.keys(0);
    rig.run(0.2);
    EXPECT_EQ(rig.take(), Events{"cancel"});
    // A modifier pressed while a letter is down is no fresh press, and the letter alone makes no chord.
    rig.input->otherKey = true;
    rig.tick();
    rig.keys(shift);
    rig.run(0.2);
    rig.keys(0);
    rig.input->otherKey = false;
    rig.run(0.1);
    rig.press(shift, 0.05);
    EXPECT_EQ(rig.take(), (Events{"cancel", "trigger cycle"}));
}

TEST(DragMonitor, CapsLockIsNeitherTriggerNorCancel)
{
    Rig rig(false);
    rig.beginDrag();
    rig.press(capsLock, 0.05);
    rig.press(capsLock, 0.2);
    rig.keys(capsLock);
    rig.press(capsLock | shift, 0.05);
    EXPECT_EQ(rig.take(), Events{"trigger cycle"});
}

TEST(DragMonitor, MouseReleaseEndsTheDragOnceAndForgetsTheHold)
{
    Rig rig;
    rig.beginDrag();
    rig.keys(shift);
    rig.run(0.2);
    rig.drop();
    rig.run(0.2);
    rig.keys(0);  // the hold was cleared silently with the drag
    rig.run(0.2);
    EXPECT_EQ(rig.take(), (Events{"trigger convert", "ended"}));

    // A pending press dies with the drag too.
    rig.beginDrag();
    rig.keys(command);
    rig.drop();
    rig.run(0.3);
    EXPECT_EQ(rig.take(), Events{"ended"});
}

TEST(DragMonitor, ReleaseWithoutADragCallsNothing)
{
    Rig rig(false);
    rig.input->leftButton = true;
    rig.run(0.2);
    rig.press(shift, 0.2);
    rig.input->otherKey = true;
    rig.run(0.1);
    rig.input->otherKey = false;
    rig.drop();
    rig.run(0.2);
    EXPECT_EQ(rig.take(), Events{});
    // Idle polls never scan the keyboard.
    EXPECT_EQ(rig.input->keyScans, 0);
}

TEST(DragMonitor, ADragWithoutFilesNeverTriggers)
{
    Rig rig(false);
    rig.input->files.clear();
    rig.beginDrag();
    rig.press(shift, 0.05);
    rig.press(shift, 0.2);
    rig.drop();
    EXPECT_EQ(rig.take(), Events{"ended"});

    // With separate keys the hold still counts as one: its release is reported, nothing opened.
    Defaults::set("separateKeys", true);
    rig.beginDrag();
    rig.press(shift, 0.2);
    EXPECT_EQ(rig.take(), Events{"release"});
}

TEST(DragMonitor, StartTakesTheCurrentChangeCountAsBaseline)
{
    Rig rig(false);
    rig.input->count = 7;
    rig.input->leftButton = true;  // already down when the monitor starts: the claim came before
    rig.monitor.start();
    rig.press(shift, 0.05);
    EXPECT_EQ(rig.take(), Events{});
    ++rig.input->count;
    rig.tick();
    rig.press(shift, 0.05);
    EXPECT_EQ(rig.take(), Events{"trigger cycle"});
}

TEST(DragMonitor, UnsetCallbacksAreSkipped)
{
    auto input = std::make_shared<FakeDragInput>();
    input->files = {"/tmp/a"};
    auto clock = std::make_shared<Fakes::Clock>();
    TestSupport::Installed<MediaClock::Source> installed(clock);
    double& now = clock->seconds;
    DragMonitor monitor(input);
    Defaults::set("separateKeys", true);
    auto step = [&] {
        now += frame;
        monitor.tick();
    };
    input->leftButton = true;
    step();
    ++input->count;
    for (unsigned flags : {shift, shift, 0u, shift})
        for (int i = 0; i < 12; ++i) {
            input->flags = flags;
            step();
        }
    input->otherKey = true;
    step();
    input->leftButton = false;
    step();
    SUCCEED();
}

TEST(DragMonitor, WithoutADisplayItStaysIdle)
{
    DragMonitor monitor(DragInput::null());
    bool called = false;
    monitor.onTrigger = [&](auto, const auto&) { called = true; };
    monitor.onDragEnded = [&] { called = true; };
    monitor.start();
    for (int i = 0; i < 30; ++i)
        monitor.tick();
    EXPECT_FALSE(called);
}

}
