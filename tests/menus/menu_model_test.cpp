#include "core/base/settings.h"
#include "menus/haptics.h"
#include "menus/menu_style.h"
#include "menus/spring.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {
class Recorder : public Haptics::Performer {
public:
    void perform(Haptics::Pattern pattern) override { patterns.push_back(pattern); }
    std::vector<Haptics::Pattern> patterns;
};

// Runs the event loop until a timer started now, due after every second pulse, has fired:
// timers fire in the order they fall due, so the pulses due before it have all been performed
// however late the loop gets to them.
void settlePulses()
{
    auto passed = std::make_shared<bool>(false);
    QTimer::singleShot(100, [passed] {
        *passed = true;
    });
    QElapsedTimer deadline;
    deadline.start();
    while (!*passed && deadline.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_TRUE(*passed);
}
}

TEST(MenuModel, SpringSettlesExactlyAndStaysPut)
{
    Spring spring{0, 1, 0, 420, 32};
    int steps = 0;
    while (!spring.atRest() && steps < 10000) {
        spring.step(1.0 / 120);
        ++steps;
    }
    EXPECT_LT(steps, 240);  // within two seconds at 120 Hz
    EXPECT_EQ(spring.value, 1);
    spring.step(1.0 / 120);
    EXPECT_EQ(spring.value, 1);
    EXPECT_EQ(spring.velocity, 0);
}

TEST(MenuModel, HapticPatternsFollowTheStoredLevel)
{
    using P = Haptics::Pattern;
    auto recorder = std::make_shared<Recorder>();
    Haptics::Performer::set(recorder);
    auto run = [&](const char* stored, void (*call)()) {
        Defaults::set(SettingKey::haptics, stored);
        recorder->patterns.clear();
        call();
        settlePulses();
        return recorder->patterns;
    };
    EXPECT_EQ(run("medium", Haptics::pick), (std::vector<P>{P::levelChange, P::levelChange}));  // unknown: strong
    EXPECT_EQ(run("strong", Haptics::tick), (std::vector<P>{P::levelChange, P::generic}));
    EXPECT_EQ(run("soft", Haptics::tick), (std::vector<P>{P::alignment}));
    EXPECT_EQ(run("soft", Haptics::pick), (std::vector<P>{P::levelChange}));
    EXPECT_EQ(run("soft", Haptics::open), (std::vector<P>{P::alignment}));
    for (auto call : {Haptics::open, Haptics::tick, Haptics::pick})
        EXPECT_TRUE(run("off", call).empty());
    Haptics::Performer::set(nullptr);
    Defaults::remove(SettingKey::haptics);
}

TEST(MenuModel, SurfaceAndPlacementChoices)
{
    ::setenv("BRIVLON_MENU", "Wheel", 1);
    EXPECT_EQ(MenuStyles::current(), MenuStyle::fan);
    ::setenv("BRIVLON_MENU", "wheel", 1);
    EXPECT_EQ(MenuStyles::current(), MenuStyle::wheel);
    ::unsetenv("BRIVLON_MENU");

    Defaults::set(SettingKey::fanPlacement, "center");
    ::setenv("BRIVLON_FAN_AT", "middle", 1);
    EXPECT_EQ(FanPlacements::current(), FanPlacement::center);
    ::setenv("BRIVLON_FAN_AT", "cursor", 1);
    EXPECT_EQ(FanPlacements::current(), FanPlacement::cursor);
    ::unsetenv("BRIVLON_FAN_AT");
    Defaults::set(SettingKey::fanPlacement, "centre");
    EXPECT_EQ(FanPlacements::current(), FanPlacement::cursor);
    Defaults::remove(SettingKey::fanPlacement);
}
