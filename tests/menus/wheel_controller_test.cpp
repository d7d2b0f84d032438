#include "core/base/settings.h"
#include "core/state/magic_burst.h"
#include "menus/haptics.h"
#include "menus/menu_surface.h"
#include "menus/wheel_controller.h"
#include "support/fakes.h"
#include "support/test_support.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <cstdlib>

using namespace TestSupport;

namespace {

// A surface that keeps what it was told; its closing animation ends when the test says so.
struct FakeSurface final : MenuSurface {
    QPointF anchorAt;
    bool interactive = false;
    bool hiding = false;
    std::vector<WheelEntry> entries;
    std::string title, subtitle;
    std::optional<int> pager, preselected;
    int openings = 0;
    std::function<void()> closing;

    void setInteractive(bool on) override { interactive = on; }
    bool isHiding() const override { return hiding; }
    QPointF anchor() const override { return anchorAt; }
    void configure(std::vector<WheelEntry> list, const std::string& t, const std::string& s, WheelMode,
        const std::string&, std::optional<int> p) override
    {
        entries = std::move(list), title = t, subtitle = s, pager = p, preselected.reset();
    }
    void preselect(int index) override { preselected = index; }
    void animateIn() override { hiding = false, ++openings; }
    void animateOut(std::function<void()> done) override { hiding = true, closing = std::move(done); }
    void finishClosing()
    {
        hiding = false;
        if (auto done = std::exchange(closing, nullptr))
            done();
    }
};

struct FakeHost final : WheelController::Host {
    FakeSurface fan, wheel;
    MenuStyle shown = MenuStyle::wheel;
    bool visible = false, numbered = false, allowsKey = false;
    std::vector<QRectF> placed;
    int raised = 0;
    std::optional<int> fanPicked;
    bool fanMarked = false;
    std::function<void()> clickOutside;
    std::vector<WheelController::Screen> screenList{{{0, 0, 1280, 1024}, {0, 30, 1280, 994}}};
    QPointF pointerAt{600, 500};

    MenuSurface& surface(MenuStyle style) override { return style == MenuStyle::fan ? fan : wheel; }
    QSizeF surfaceSize(MenuStyle style) const override
    {
        return style == MenuStyle::fan ? QSizeF(660, 450) : QSizeF(380, 380);
    }
    void useSurface(MenuStyle style) override { shown = style; }
    void setFanNumbered(bool on) override { numbered = on; }
    void setFanOpensDown(bool) override { }
    void markFanPicked() override { fanMarked = true; }
    void fanPick(int index) override { fanPicked = index; }
    bool panelVisible() const override { return visible; }
    void placePanel(QRectF frame) override { placed.push_back(frame), visible = true; }
    void raisePanel() override { ++raised, visible = true; }
    void orderOut() override { visible = false; }
    void setAllowsKey(bool on) override { allowsKey = on; }
    void setKeyHandler(std::function<bool(int, const QString&)>) override { }
    void watchClicksOutside(std::function<void()> clicked) override { clickOutside = std::move(clicked); }
    std::vector<WheelController::Screen> screens() const override { return screenList; }
    QPointF pointer() const override { return pointerAt; }
};

// Haptic pulses and card sounds in one log, in the order they happened.
struct Log {
    std::vector<std::string> lines;
};
struct LoggedHaptics final : Haptics::Performer {
    explicit LoggedHaptics(std::shared_ptr<Log> l) : log(std::move(l)) { }
    std::shared_ptr<Log> log;
    void perform(Haptics::Pattern) override { log->lines.push_back("haptic"); }
};
struct LoggedSounds final : Chime::Output {
    explicit LoggedSounds(std::shared_ptr<Log> l) : log(std::move(l)) { }
    std::shared_ptr<Log> log;
    void restart(Chime::Kind kind, double) override { log->lines.push_back(Chime::rawValue(kind)); }
};

struct Env {
    const char* name;
    Env(const char* n, const char* value) : name(n) { setenv(n, value, 1); }
    ~Env() { unsetenv(name); }
};

class WheelControllerTest : public ::testing::Test {
protected:
    std::shared_ptr<Log> log = std::make_shared<Log>();
    Installed<Haptics::Performer> haptics{std::make_shared<LoggedHaptics>(log)};
    Installed<Chime::Output> sounds{std::make_shared<LoggedSounds>(log)};
    TempDir dir;
    FakeHost* host = new FakeHost;
    WheelController controller{std::unique_ptr<WheelController::Host>(host)};
    const QPointF at{600, 500};

    void SetUp() override
    {
        Defaults::remove(SettingKey::separateKeys);
        Defaults::remove(SettingKey::askQuality);
        Defaults::remove(SettingKey::quality, "jpg");
        MagicBurst::reset();
        host->fan.anchorAt = {330, 400};
        host->wheel.anchorAt = {190, 190};
        for (const char* name : {"a.png", "b.mp3"})
            writeFile(dir / name, "x");
    }
    WheelEntry::Paths png() const { return {dir / "a.png"}; }
    long count(const std::string& line) const { return std::count(log->lines.begin(), log->lines.end(), line); }
    // A drop on a JPG-like card that records what it ran.
    WheelEntry qualityCard(std::vector<std::string>& ran)
    {
        return {"JPG", "Converter para JPG", QualityGroup::jpg,
            [&ran](const WheelEntry::Paths& urls, QualityLevel level) {
                ran.push_back(urls.front().filename().string() + " " + QualityLevels::rawValue(level));
            },
            [&ran](const WheelEntry::Paths&) {
                ran.push_back("plain");
            }};
    }
};

}

TEST_F(WheelControllerTest, SeparateKeysCloseOnTheSameKeyAndSwapInPlaceOnAnother)
{
    controller.trigger(WheelMode::convert, png(), at);
    ASSERT_TRUE(host->visible);
    EXPECT_EQ(controller.mode(), WheelMode::convert);
    EXPECT_EQ(host->shown, MenuStyle::fan);
    EXPECT_EQ(host->fan.title, "Converter");
    EXPECT_EQ(host->fan.pager, std::nullopt);  // separate keys show no pager
    EXPECT_EQ(count("shuffle"), 1);

    controller.trigger(WheelMode::tools, png(), QPointF(100, 100));
    EXPECT_EQ(controller.mode(), WheelMode::tools);
    EXPECT_EQ(host->fan.title, "Ferramentas");
    EXPECT_EQ(host->placed.size(), 1u) << "a swap keeps the panel where it is";
    EXPECT_EQ(count("shuffle"), 1) << "and does not deal the cards again";

    controller.trigger(WheelMode::tools, png(), at);
    EXPECT_TRUE(host->fan.hiding);
    EXPECT_EQ(controller.mode(), std::nullopt);
    // A press during the close opens again, placed afresh.
    controller.trigger(WheelMode::tools, png(), at);
    EXPECT_EQ(controller.mode(), WheelMode::tools);
    EXPECT_EQ(host->placed.size(), 2u);

    controller.hide();
    host->fan.finishClosing();
    EXPECT_FALSE(host->visible);
}

TEST_F(WheelControllerTest, TheSingleKeyCyclesThroughTheModesThatHaveCards)
{
    Defaults::set(SettingKey::separateKeys, false);
    std::vector<std::optional<WheelMode>> seen;
    for (int i = 0; i < 4; ++i) {
        controller.cycle(png(), at);
        seen.push_back(controller.mode());
    }
    EXPECT_EQ(seen,
        (std::vector<std::optional<WheelMode>>{
            WheelMode::convert, WheelMode::tools, WheelMode::actions, WheelMode::convert}));
    EXPECT_EQ(host->fan.pager, 0);
    controller.hide();
    host->fan.finishClosing();

    // Two kinds at once: no conversions, no tools; taps never close the actions.
    const WheelEntry::Paths mixed{dir / "a.png", dir / "b.mp3"};
    for (int i = 0; i < 3; ++i) {
        controller.cycle(mixed, at);
        EXPECT_EQ(controller.mode(), WheelMode::actions);
        EXPECT_TRUE(host->visible && !host->fan.hiding);
    }
    EXPECT_EQ(host->fan.pager, 2);
}

TEST_F(WheelControllerTest, TheQualityStepWaitsForAKeyOrACard)
{
    Defaults::set(SettingKey::quality, "jpg", "light");
    std::vector<std::string> ran;
    controller.trigger(WheelMode::convert, png(), at);
    host->fan.onPick(png(), qualityCard(ran));

    ASSERT_TRUE(controller.choosingQuality());
    EXPECT_TRUE(ran.empty());
    ASSERT_EQ(host->fan.entries.size(), 4u);
    EXPECT_EQ(host->fan.title, "Qualidade");
    EXPECT_EQ(host->fan.subtitle, "JPG");
    EXPECT_EQ(host->fan.preselected, 3);
    EXPECT_NE(host->fan.entries[3].detail->find("\n(padrão)"), std::string::npos);
    EXPECT_EQ(host->fan.entries[1].detail->find("(padrão)"), std::string::npos);
    EXPECT_TRUE(host->fan.interactive && host->numbered && host->allowsKey && host->clickOutside);

    // Neither the end of the drag nor another trigger replaces the step.
    controller.hideSoon();
    EXPECT_FALSE(controller.hidePending());
    controller.trigger(WheelMode::tools, png(), at);
    EXPECT_EQ(host->fan.title, "Qualidade");
    EXPECT_FALSE(controller.handleKey(Qt::Key_5, "5"));
    EXPECT_FALSE(controller.handleKey(Qt::Key_A, "a"));

    EXPECT_TRUE(controller.handleKey(Qt::Key_3, "3"));
    EXPECT_EQ(ran, std::vector<std::string>{"a.png web"});
    EXPECT_EQ(host->fanPicked, 2);
    EXPECT_FALSE(controller.choosingQuality());
    EXPECT_FALSE(host->allowsKey || host->clickOutside || host->fan.interactive);
    EXPECT_TRUE(host->fan.hiding);
}

TEST_F(WheelControllerTest, ReturnTakesTheDefaultAndEscapeOrAClickOutsideTakesNothing)
{
    std::vector<std::string> ran;
    auto open = [&] {
        host->fan.finishClosing();
        controller.trigger(WheelMode::convert, png(), at);
        host->fan.onPick(png(), qualityCard(ran));
    };
    open();
    EXPECT_EQ(host->fan.preselected, 1);  // nothing saved: high
    EXPECT_TRUE(controller.handleKey(Qt::Key_Return, "\r"));
    open();
    EXPECT_TRUE(controller.handleKey(Qt::Key_Escape, "\x1b"));
    EXPECT_FALSE(controller.choosingQuality());
    open();
    host->clickOutside();
    EXPECT_FALSE(controller.choosingQuality());
    EXPECT_EQ(ran, std::vector<std::string>{"a.png high"});

    // With the question switched off a drop runs at once, the picked card shown in the close.
    Defaults::set(SettingKey::askQuality, false);
    open();
    EXPECT_EQ(ran.back(), "plain");
    EXPECT_TRUE(host->fanMarked && host->fan.hiding);
}

TEST_F(WheelControllerTest, APickPulsesSoundsAndNotesThePointBeforeItRuns)
{
    Defaults::set(SettingKey::askQuality, false);
    controller.trigger(WheelMode::convert, png(), at);
    log->lines.clear();
    host->pointerAt = {640, 480};
    std::vector<std::string> order;
    WheelEntry card{"ZIP", std::nullopt, std::nullopt, nullptr, [&](const WheelEntry::Paths&) {
                        order = log->lines;
                        order.push_back(MagicBurst::dropPoint() == QPointF(640, 480) ? "noted" : "not noted");
                        order.push_back("run");
                    }};
    host->fan.onPick(png(), card);
    EXPECT_EQ(order, (std::vector<std::string>{"haptic", "flip", "noted", "run"}));
}

TEST_F(WheelControllerTest, TheDragEndingClosesAQuarterSecondLater)
{
    controller.trigger(WheelMode::convert, png(), at);
    controller.hideSoon();
    EXPECT_TRUE(controller.hidePending());
    QElapsedTimer clock;
    clock.start();
    while (!host->fan.hiding && clock.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    EXPECT_TRUE(host->fan.hiding);
    EXPECT_GE(clock.elapsed(), 240);
    // A trigger in between cancels it.
    host->fan.finishClosing();
    controller.trigger(WheelMode::convert, png(), at);
    controller.hideSoon();
    controller.trigger(WheelMode::tools, png(), at);
    EXPECT_FALSE(controller.hidePending());
}

TEST_F(WheelControllerTest, TheFanCanOpenInTheMiddleOfThePointersScreenButTheWheelNot)
{
    Env centre("BRIVLON_FAN_AT", "center");
    host->screenList.push_back({{1280, 0, 1920, 1080}, {1280, 0, 1920, 1040}});
    controller.trigger(WheelMode::convert, png(), QPointF(1500, 900));
    EXPECT_EQ(host->placed.back(), QRectF(QPointF(1280 + 960 - 330, 520 - 225), QSizeF(660, 450)));
    controller.hide();
    host->fan.finishClosing();

    Env wheel("BRIVLON_MENU", "wheel");
    controller.trigger(WheelMode::convert, png(), QPointF(1500, 600));
    EXPECT_EQ(host->shown, MenuStyle::wheel);
    EXPECT_EQ(host->placed.back(), QRectF(QPointF(1500 - 190, 600 - 190), QSizeF(380, 380)));
    EXPECT_EQ(count("shuffle"), 1) << "only the fan deals its cards with a sound";
}

TEST(WheelPlacement, KeepsThePanelOnThePointersScreenWithSlack)
{
    const std::vector<WheelController::Screen> screens{
        {{0, 0, 1280, 1024}, {0, 30, 1280, 994}}, {{1280, 0, 800, 600}, {1280, 0, 800, 560}}};
    const QSizeF wheel(380, 380);
    const QPointF hub(190, 190);
    auto at = [&](QPointF point, QSizeF size = QSizeF(380, 380)) {
        return WheelController::origin(point, size, hub, screens, false);
    };
    EXPECT_EQ(at({600, 500}), QPointF(410, 310));  // free: the hub under the pointer
    EXPECT_EQ(at({1275, 500}).x() + wheel.width(), 1280 + 20);  // right edge 20 past the screen's
    EXPECT_EQ(at({3, 500}).x(), -20);
    EXPECT_EQ(at({600, 31}).y(), 30 - 20);  // under the top panel, 20 into it at most
    EXPECT_EQ(at({600, 1020}).y() + wheel.height(), 1024 + 20);
    // The right-hand screen's own bounds, its visible part ending at 560.
    EXPECT_EQ(at({2070, 590}), QPointF(1280 + 800 - 380 + 20, 560 - 380 + 20));
    // Larger than the screen: the right and the top edges win.
    EXPECT_EQ(at({1500, 300}, QSizeF(900, 700)), QPointF(1280 + 800 - 900 + 20, -20));
    // On no screen the point is taken as it is.
    EXPECT_EQ(at({5000, -300}), QPointF(5000 - 190, -300 - 190));
}
