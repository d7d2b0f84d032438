#include "menus/drag_monitor.h"

#include "platform/fake_drag_input.h"
#include "support/fakes.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using namespace ModifierFlags;
using Events = std::vector<std::string>;

constexpr double frame = 1.0 / 60;
constexpr unsigned capsLock = 0x10000;  // outside the mask: never takes part

// A monitor on the fake service with a scripted clock; callbacks are written down as words.
struct Rig {
    std::shared_ptr<FakeDragInput> input = std::make_shared<FakeDragInput>();
    std::shared_ptr<Fakes::Clock> clock = std::make_shared<Fakes::Clock>();
    TestSupport::Installed<MediaClock::Source> installed{clock};
    DragMonitor monitor{input};
    Events events;

    explicit Rig(bool separateKeys = true, const std::map<QString, QString>& keys = {})
    {
        Defaults::set("separateKeys", separateKeys);
        for (const char* key : {"key.single", "key.convert", "key.tools", "key.actions"})
            Defaults::remove(key);
        for (const auto& [key, value] : keys)
            Defaults::set(key, value);
        input->files = {"/tmp/a.png", "/tmp/b.png"};
        monitor.onTrigger = [this](std::optional<WheelMode> mode, const DragMonitor::Files& files) {
            EXPECT_EQ(files, input->files);
            events.push_back("trigger " + (mode ? WheelModes::rawValue(*mode) : std::string("cycle")));
        };
        monitor.onDragEnded = [this] { events.push_back("ended"); };
        monitor.onCancel = [this] { events.push_back("cancel"); };
        monitor.onRelease = [this] { events.push_back("release"); };
    }
    void tick() { clock->seconds += frame, monitor.tick(); }
    void run(double seconds)
    {
        for (double t = 0; t < seconds - 1e-9; t += frame)
            tick();
    }
    void keys(unsigned flags) { input->flags = flags, tick(); }
    void button(bool down) { input->leftButton = down, tick(); }
    // The drag source claims the selection once the pointer has moved far enough.
    void beginDrag() { button(true), ++input->count, tick(); }
    void press(unsigned flags, double seconds) { keys(flags), run(seconds), keys(0); }
    Events take() { return std::exchange(events, {}); }
};

TEST(DragMonitor, KeysMapToModesAsTheSettingsSay)
{
    struct Case {
        bool separate;
        std::map<QString, QString> settings;
        unsigned key;
        const char* expected;  // "" for nothing
    };
    const Case cases[] = {
        {true, {}, command, "trigger tools"},
        {true, {}, option, ""},
        {true, {{"key.tools", "option"}}, option, "trigger tools"},
        {true, {{"key.tools", "option"}}, command, ""},
        {true, {{"key.convert", "Shift"}}, shift, "trigger convert"},
        {true, {{"key.actions", "shift"}}, shift, "trigger convert"},
        {true, {{"key.convert", "off"}, {"key.actions", "shift"}}, shift, "trigger actions"},
        {true, {}, shift | capsLock, "trigger convert"},
        {true, {}, shift | command, ""},
        {false, {}, command, ""},
        {false, {{"key.single", "command"}}, command, "trigger cycle"},
        {false, {{"key.single", "hyper"}}, shift, "trigger cycle"},
        {false, {{"key.single", "off"}}, shift, ""},
    };
    for (const auto& c : cases) {
        Rig rig(c.separate, c.settings);
        rig.beginDrag();
        rig.keys(c.key);
        rig.run(0.2);
        EXPECT_EQ(rig.take(), *c.expected ? Events{c.expected} : Events{}) << c.key << " " << c.separate;
    }
}

TEST(DragMonitor, OnlyAFreshLonePressDuringTheDragCounts)
{
    Rig rig;
    rig.keys(shift);  // held before the drag
    rig.beginDrag();
    rig.run(0.5);
    rig.keys(shift | command);  // joining a held key
    rig.run(0.2);
    rig.keys(command);  // the one left over
    rig.run(0.2);
    EXPECT_EQ(rig.take(), Events{});
    rig.keys(0);
    rig.press(shift, 0.2);
    EXPECT_EQ(rig.take(), (Events{"trigger convert", "release"}));
}

TEST(DragMonitor, SingleKeyFiresOnATapAtReleaseAndOnAHoldOnce)
{
    Rig rig(false);
    rig.beginDrag();
    rig.keys(shift);
    rig.run(0.05);
    EXPECT_EQ(rig.take(), Events{});
    rig.keys(0);
    EXPECT_EQ(rig.take(), Events{"trigger cycle"});  // on the release tick

    // A hold fires on the first tick past the hold time, and only once.
    rig.keys(shift);
    rig.run(DragMonitor::holdSeconds - frame);
    EXPECT_EQ(rig.take(), Events{});
    rig.run(0.5);
    rig.keys(0);
    EXPECT_EQ(rig.take(), Events{"trigger cycle"});
}

TEST(DragMonitor, SeparateKeysIgnoreTapsAndReadSettingsAtEachFire)
{
    Rig rig;
    rig.beginDrag();
    rig.press(shift, 0.05);
    rig.press(shift, 0.2);
    Defaults::set("key.convert", "off");
    Defaults::set("key.actions", "shift");
    rig.press(shift, 0.2);
    Defaults::set("separateKeys", false);
    rig.press(shift, 0.05);
    EXPECT_EQ(rig.take(), (Events{"trigger convert", "release", "trigger actions", "release", "trigger cycle"}));
}

TEST(DragMonitor, ALetterCancelsOnceAndBlocksModifiersUntilAllAreUp)
{
    Rig rig;
    rig.beginDrag();
    rig.keys(shift);
    rig.input->otherKey = true;
    rig.run(0.3);
    rig.input->otherKey = false;
    rig.run(0.3);
    rig.keys(shift | command);  // still a chord while shift stays down
    rig.run(0.3);
    EXPECT_EQ(rig.take(), Events{"cancel"});
    rig.keys(0);
    rig.press(shift, 0.2);
    EXPECT_EQ(rig.take(), (Events{"trigger convert", "release"}));

    // A modifier pressed while a letter is down is no fresh press; caps lock is nothing at all.
    Rig single(false);
    single.beginDrag();
    single.input->otherKey = true;
    single.tick();
    single.press(shift, 0.2);
    single.input->otherKey = false;
    single.press(capsLock, 0.2);
    single.press(shift, 0.05);
    EXPECT_EQ(single.take(), (Events{"cancel", "trigger cycle"}));
}

TEST(DragMonitor, MouseReleaseEndsTheDragAndForgetsHoldsAndPendingPresses)
{
    Rig rig;
    rig.beginDrag();
    rig.keys(shift);
    rig.run(0.2);
    rig.button(false);
    rig.keys(0);  // the hold went silently with the drag
    rig.beginDrag();
    rig.keys(command);
    rig.button(false);
    rig.run(0.3);
    EXPECT_EQ(rig.take(), (Events{"trigger convert", "ended", "ended"}));
}

TEST(DragMonitor, WithoutANewDragFilesOrADisplayNothingOpens)
{
    Rig rig(false);
    rig.input->count = 7;
    rig.input->leftButton = true;  // down when the monitor starts: that claim came before
    rig.monitor.start();
    rig.press(shift, 0.2);
    rig.input->otherKey = true;
    rig.button(false);
    EXPECT_EQ(rig.take(), Events{});
    EXPECT_EQ(rig.input->keyScans, 0);  // idle polls never scan the keyboard

    rig.input->otherKey = false;
    rig.input->files.clear();
    rig.beginDrag();
    rig.press(shift, 0.05);
    rig.input->files = {"/tmp/c"};
    rig.press(shift, 0.05);
    EXPECT_EQ(rig.take(), Events{"trigger cycle"});

    DragMonitor idle(DragInput::null());
    idle.onTrigger = [&](auto, const auto&) { ADD_FAILURE(); };
    idle.start();
    idle.tick();
}

}
