#include "menus/drag_monitor.h"

#include "core/job_fakes.h"
#include "platform/fake_drag_input.h"
#include "support/fakes.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <sys/eventfd.h>
#include <unistd.h>

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

    explicit Rig(bool separateKeys = true, const std::map<SettingKey, QString>& keys = {})
    {
        Defaults::set(SettingKey::separateKeys, separateKeys);
        for (auto key : {SettingKey::singleKey, SettingKey::convertKey, SettingKey::toolsKey, SettingKey::actionsKey})
            Defaults::remove(key);
        for (const auto& [key, value] : keys)
            Defaults::set(key, value);
        input->files = {"/tmp/a.png", "/tmp/b.png"};
        monitor.onTrigger = [this](std::optional<WheelMode> mode, const DragMonitor::Files& files) {
            EXPECT_EQ(files, input->files);
            events.push_back(mode ? WheelModes::rawValue(*mode) : "cycle");
        };
        monitor.onDragEnded = [this] {
            events.push_back("ended");
        };
        monitor.onCancel = [this] {
            events.push_back("cancel");
        };
        monitor.onRelease = [this] {
            events.push_back("release");
        };
    }
    void tick() { clock->seconds += frame, monitor.tick(); }

    // Plays a script of words, each ending with one tick: "drag" (button down, then the source
    // claims the selection), "up", "letter"/"noletter" (a key that is no modifier goes down/up),
    // seconds to wait, or the modifiers held from now on ("shift+command", "none").
    Events play(const std::string& script)
    {
        static const std::map<std::string, unsigned> names = {{"none", 0}, {"shift", shift}, {"command", command},
            {"control", control}, {"option", option}, {"caps", capsLock}};
        std::istringstream words(script);
        for (std::string word; words >> word; tick()) {
            if (word == "drag") {
                input->leftButton = true, tick();
                ++input->count;
            } else if (word == "up" || word == "letter" || word == "noletter") {
                (word == "up" ? input->leftButton : input->otherKey) = word == "letter";
            } else if (std::isdigit(word[0])) {
                for (double t = frame; t < std::stod(word) - 1e-9; t += frame)
                    tick();
            } else {
                std::istringstream keys(word);
                input->flags = 0;
                for (std::string key; std::getline(keys, key, '+');)
                    input->flags |= names.at(key);
            }
        }
        return std::exchange(events, {});
    }
};

TEST(DragMonitor, KeysMapToModesAsTheSettingsSay)
{
    const std::tuple<bool, std::map<SettingKey, QString>, const char*, Events> cases[] = {
        {true, {}, "command", {"tools"}},
        {true, {}, "option", {}},
        {true, {{SettingKey::toolsKey, "option"}}, "option", {"tools"}},
        {true, {{SettingKey::toolsKey, "option"}}, "command", {}},
        {true, {{SettingKey::convertKey, "Shift"}}, "shift", {"convert"}},
        {true, {{SettingKey::actionsKey, "shift"}}, "shift", {"convert"}},
        {true, {{SettingKey::convertKey, "off"}, {SettingKey::actionsKey, "shift"}}, "shift", {"actions"}},
        {true, {}, "shift+caps", {"convert"}},
        {true, {}, "shift+command", {}},
        {false, {}, "command", {}},
        {false, {{SettingKey::singleKey, "command"}}, "command", {"cycle"}},
        {false, {{SettingKey::singleKey, "hyper"}}, "shift", {"cycle"}},
        {false, {{SettingKey::singleKey, "off"}}, "shift", {}},
    };
    for (const auto& [separate, settings, keys, expected] : cases)
        EXPECT_EQ(Rig(separate, settings).play(std::string("drag ") + keys + " 0.2"), expected) << keys;
}

TEST(DragMonitor, OnlyAFreshLonePressDuringTheDragCounts)
{
    Rig rig;
    // Held before the drag, joined by another key, or left over from a pair: none counts.
    EXPECT_EQ(rig.play("shift drag 0.5 shift+command 0.2 command 0.2"), Events{});
    EXPECT_EQ(rig.play("none shift 0.2 none"), (Events{"convert", "release"}));
}

TEST(DragMonitor, SingleKeyFiresOnTheReleaseOfATapAndOnceForAHold)
{
    Rig rig(false);
    EXPECT_EQ(rig.play("drag shift 0.05"), Events{});
    EXPECT_EQ(rig.play("none"), Events{"cycle"});
    // The hold fires on the first tick past the hold time.
    EXPECT_EQ(rig.play("shift " + std::to_string(DragMonitor::holdSeconds - frame)), Events{});
    EXPECT_EQ(rig.play("0"), Events{"cycle"});
    EXPECT_EQ(rig.play("0.5 none 0.2"), Events{});
}

TEST(DragMonitor, SeparateKeysIgnoreTapsAndReadTheSettingsAtEachFire)
{
    Rig rig;
    EXPECT_EQ(rig.play("drag shift 0.05 none shift 0.2 none"), (Events{"convert", "release"}));
    Defaults::set(SettingKey::convertKey, "off");
    Defaults::set(SettingKey::actionsKey, "shift");
    EXPECT_EQ(rig.play("shift 0.2 none"), (Events{"actions", "release"}));
    Defaults::set(SettingKey::separateKeys, false);
    EXPECT_EQ(rig.play("shift 0.05 none"), Events{"cycle"});
}

TEST(DragMonitor, ALetterCancelsOnceAndBlocksModifiersUntilAllAreUp)
{
    Rig rig;
    EXPECT_EQ(rig.play("drag shift letter 0.3 noletter 0.3 shift+command 0.3"), Events{"cancel"});
    EXPECT_EQ(rig.play("none shift 0.2 none"), (Events{"convert", "release"}));
    // A letter during a hold cancels, and the held key's release is still told.
    EXPECT_EQ(rig.play("shift 0.2 letter noletter command+shift none"), (Events{"convert", "cancel", "release"}));
    // A modifier pressed while a letter is down is no fresh press; caps lock is nothing at all.
    EXPECT_EQ(
        Rig(false).play("drag letter shift 0.2 none noletter caps 0.2 none shift none"), (Events{"cancel", "cycle"}));
}

TEST(DragMonitor, MouseReleaseEndsTheDragAndForgetsHoldsAndPendingPresses)
{
    EXPECT_EQ(Rig().play("drag shift 0.2 up none drag command up 0.3"), (Events{"convert", "ended", "ended"}));
}

TEST(DragMonitor, WithoutANewDragFilesOrADisplayNothingOpens)
{
    Rig rig(false);
    rig.input->count = 7;
    rig.input->leftButton = true;  // down when the monitor starts: that claim came before
    rig.monitor.start();
    EXPECT_EQ(rig.play("shift 0.2 none letter up noletter"), Events{});
    EXPECT_EQ(rig.input->keyScans, 0);  // idle polls never scan the keyboard
    rig.input->files.clear();
    EXPECT_EQ(rig.play("drag shift none"), Events{});
    rig.input->files = {"/tmp/c"};
    EXPECT_EQ(rig.play("shift none"), Events{"cycle"});

    DragMonitor idle(DragInput::null());
    idle.onTrigger = [&](auto, const auto&) {
        ADD_FAILURE();
    };
    idle.start();
    idle.tick();
}

TEST(DragMonitor, SleepsBetweenDragsAndPollsFromAClaimUntilTheButtonIsUp)
{
    // The real clock and timer here: what is measured is whether anything runs at all.
    auto input = std::make_shared<FakeDragInput>();
    input->notice = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    ASSERT_GE(input->notice, 0);
    input->files = {"/tmp/a.png"};
    Defaults::set(SettingKey::separateKeys, false);
    Defaults::remove(SettingKey::singleKey);
    DragMonitor monitor(input);
    Events events;
    monitor.onTrigger = [&](std::optional<WheelMode>, const DragMonitor::Files&) {
        events.push_back("cycle");
    };
    monitor.onDragEnded = [&] {
        events.push_back("ended");
    };
    monitor.start();
    auto quiet = [&] {
        const int before = input->pointerQueries;
        JobFakes::pumpUntil(0.2, [] {
            return false;
        });
        return input->pointerQueries - before;
    };
    EXPECT_EQ(quiet(), 0) << "polled with no drag under way";

    // A claim with the button up (a source giving the selection back) looks once and sleeps.
    input->claim();
    EXPECT_TRUE(JobFakes::pumpUntil([&] {
        return input->pointerQueries > 0;
    }));
    EXPECT_EQ(quiet(), 0);

    // A drag: polled throughout, so that a tap of the key opens the menu, until the button is up.
    input->leftButton = true;
    input->claim();
    EXPECT_GT(quiet(), 2);
    input->flags = ModifierFlags::shift;
    const int pressed = input->pointerQueries;
    EXPECT_TRUE(JobFakes::pumpUntil([&] {
        return input->pointerQueries > pressed + 1;
    }));
    input->flags = 0;
    EXPECT_TRUE(JobFakes::pumpUntil([&] {
        return !events.empty();
    }));
    input->leftButton = false;
    EXPECT_TRUE(JobFakes::pumpUntil([&] {
        return events.size() == 2;
    }));
    EXPECT_EQ(events, (Events{"cycle", "ended"}));
    EXPECT_EQ(quiet(), 0) << "still polling after the drag";
    ::close(input->notice);
}

}

// A busy source hands its file list over late: a trigger that comes first goes off once the
// list is in, while the drag and the key last, and never after either ended.
TEST(DragMonitor, ATriggerBeforeTheFilesAreInWaitsForThem)
{
    Rig rig;
    rig.input->pending = true;
    EXPECT_EQ(rig.play("drag shift 0.3"), Events{});
    rig.input->pending = false;
    EXPECT_EQ(rig.play("0.05"), Events{"convert"});
    EXPECT_EQ(rig.play("none up"), (Events{"release", "ended"}));

    rig.input->pending = true;
    EXPECT_EQ(rig.play("drag shift 0.3 none"), Events{"release"});
    rig.input->pending = false;
    EXPECT_EQ(rig.play("0.05 up"), Events{"ended"}) << "the key went up before the files came";

    rig.input->pending = true;
    EXPECT_EQ(rig.play("drag shift 0.3 up"), Events{"ended"});
    rig.input->pending = false;
    EXPECT_EQ(rig.play("0.05 none 0.05"), Events{}) << "the drag ended before the files came";
}
