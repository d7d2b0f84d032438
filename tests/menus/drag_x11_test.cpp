// The real drag monitor under a real X server, window manager and drag source: a Qt program
// drags files (or only text) while XTEST plays the hand on the mouse and the keys, and a probe
// running the monitor prints its callbacks. Every step waits for a line from the program that
// must react, with a deadline; nothing waits on a fixed sleep. Run through support/with-x.

#include "core/base/settings.h"
#include "support/line_child.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace TestSupport;
using Child = LineChild;

constexpr int rounds = 20;

struct Point {
    int x = 0;
    int y = 0;
};

class Desktop {
public:
    Desktop(const std::vector<fs::path>& files)
        : source_(DRAG_SOURCE, strings(files)), probe_(DRAG_PROBE), driver_(XTEST_DRIVER)
    {
        expectedFiles_ = join(files);
    }

    ::testing::AssertionResult setUp()
    {
        REQUIRE(probe_.expect("ready"));
        const auto ready = source_.nextLine();
        if (!ready)
            return ::testing::AssertionFailure() << "the drag source never showed its window";
        std::istringstream words(*ready);
        std::string word;
        words >> word >> files_.x >> files_.y >> text_.x >> text_.y;
        if (word != "ready" || !words)
            return ::testing::AssertionFailure() << "drag source said \"" << *ready << "\"";
        return ::testing::AssertionSuccess();
    }

    ::testing::AssertionResult drive(const std::string& command)
    {
        return (driver_.send(command), driver_.expect("ok"));
    }

    // Presses on one half of the source and moves just past the drag distance (10 px), so that
    // the drag starts on the last motion; a letter then proves that the monitor sees the drag
    // (its cancel comes only during one). A Qt drag source hands over its data only until it
    // sends its first position after the claim, and every later motion sends one: on a loaded
    // machine a backlog of motion would overtake the monitor's request in the source's queue,
    // which no reader can help. So the pointer rests until the drop.
    ::testing::AssertionResult beginDrag(bool files)
    {
        const auto at = files ? files_ : text_;
        REQUIRE(drive("move " + std::to_string(at.x) + " " + std::to_string(at.y)));
        REQUIRE(drive("press"));
        REQUIRE(drive("glide 12 0 2"));
        REQUIRE(source_.expect("drag"));
        REQUIRE(drive("down a"));
        REQUIRE(probe_.expect("cancel"));
        return drive("up a");
    }

    // Glides away across the desktop and lets go.
    ::testing::AssertionResult drop()
    {
        REQUIRE(drive("glide 400 300 30"));
        REQUIRE(drive("release"));
        REQUIRE(source_.expect("dropped"));
        return probe_.expect("ended");
    }

    // A key held until the monitor reports the trigger, then released.
    ::testing::AssertionResult hold(const std::string& key, const std::string& mode, bool released)
    {
        return hold(key, mode, released, expectedFiles_);
    }
    ::testing::AssertionResult hold(
        const std::string& key, const std::string& mode, bool released, const std::string& files)
    {
        REQUIRE(drive("down " + key));
        REQUIRE(probe_.expect("trigger " + mode + " " + files));
        REQUIRE(drive("up " + key));
        return released ? probe_.expect("release") : ::testing::AssertionSuccess();
    }

    // Separate keys: shift, Super and Control held in turn open their modes and report their
    // release; caps lock toggled on and off is neither a trigger nor a cancel.
    ::testing::AssertionResult separateKeys()
    {
        Defaults::set(SettingKey::separateKeys, true);
        REQUIRE(beginDrag(true));
        REQUIRE(hold("Shift_L", "convert", true));
        REQUIRE(hold("Super_L", "tools", true));
        REQUIRE(hold("Control_L", "actions", true));
        for (const char* step : {"down Caps_Lock", "up Caps_Lock", "down Caps_Lock", "up Caps_Lock"})
            REQUIRE(drive(step));
        return drop();
    }

    // The single key, set to shift, command, control or option, fires without a mode and reports
    // no release.
    ::testing::AssertionResult singleKey(int round)
    {
        static const std::vector<std::pair<std::string, std::string>> keys
            = {{"shift", "Shift_L"}, {"command", "Super_L"}, {"control", "Control_L"}, {"option", "Alt_L"}};
        const auto& [setting, key] = keys[static_cast<size_t>(round) % keys.size()];
        Defaults::set(SettingKey::separateKeys, false);
        Defaults::set(SettingKey::singleKey, QString::fromStdString(setting));
        REQUIRE(beginDrag(true));
        REQUIRE(hold(key, "cycle", false));
        return drop();
    }

    // A drag of text alone: shift held well past the hold time opens nothing. The hold still
    // counts as one (its release is reported), which shows that the monitor saw it; a trigger
    // would have come before that release.
    ::testing::AssertionResult textOnly()
    {
        Defaults::set(SettingKey::separateKeys, true);
        REQUIRE(beginDrag(false));
        REQUIRE(drive("down Shift_L"));
        REQUIRE(drive("pause 500"));
        REQUIRE(drive("up Shift_L"));
        REQUIRE(probe_.expect("release"));
        return drop();
    }

    // A long list from a source that hands it over in chunks, claimed while the button is held
    // on the desktop, as a drag out of a program of another toolkit would be.
    ::testing::AssertionResult longList(Child& owner, const std::vector<fs::path>& files)
    {
        REQUIRE(claimOnTheDesktop(owner, "claim"));
        REQUIRE(owner.expect("served"));
        REQUIRE(drive("down a"));
        REQUIRE(probe_.expect("cancel"));
        REQUIRE(drive("up a"));
        return controlAndLetGo(files);
    }

    // A source that went on before the monitor's request reached it, as any Qt source does on a
    // loaded machine once the drag moves over a window: the request stamped with the claim's time
    // is refused, the one stamped with the motion's time is served.
    ::testing::AssertionResult movedOn(Child& owner, const std::vector<fs::path>& files)
    {
        REQUIRE(claimOnTheDesktop(owner, "claim moving"));
        REQUIRE(owner.expect("asked"));
        REQUIRE(drive("glide 6 0 3"));
        REQUIRE(owner.expect("refused"));
        return servedAtLast(owner, files);
    }

    // A source a step ahead of every input time the monitor knows (its position stamped with an
    // event of its own): the request with the claim's time is refused and no other time is left
    // to ask with until the pointer moves; the motions' times are then asked until one is taken.
    ::testing::AssertionResult aheadOfTheInput(Child& owner, const std::vector<fs::path>& files)
    {
        REQUIRE(claimOnTheDesktop(owner, "claim ahead"));
        REQUIRE(owner.expect("refused"));
        REQUIRE(drive("glide 6 0 3"));
        return servedAtLast(owner, files);
    }

    // An earlier source's refusal of a request the monitor sent it comes only once another source
    // has claimed the drag, naming no time, as if it were the new source's answer. The new
    // source's long list must still be read.
    ::testing::AssertionResult lateRefusal(Child& owner, const std::vector<fs::path>& files)
    {
        Child earlier(SELECTION_OWNER, {(files.front().parent_path().parent_path() / "antes").string(), "3"});
        REQUIRE(claimOnTheDesktop(earlier, "claim held"));
        REQUIRE(earlier.expect("asked"));
        owner.send("claim held");
        REQUIRE(owner.expect("claimed"));
        REQUIRE(owner.expect("asked"));
        earlier.send("refuse");
        REQUIRE(earlier.expect("refused"));
        owner.send("answer");
        REQUIRE(owner.expect("served"));
        return controlAndLetGo(files);
    }

private:
    // The button pressed on the desktop, then `owner` told to claim the selection (`command`).
    ::testing::AssertionResult claimOnTheDesktop(Child& owner, const std::string& command)
    {
        Defaults::set(SettingKey::separateKeys, true);
        REQUIRE(drive("move 1200 950"));
        REQUIRE(drive("press"));
        owner.send(command);
        return owner.expect("claimed");
    }

    // Later motions may be asked first and refused as well; then the list must be served.
    ::testing::AssertionResult servedAtLast(Child& owner, const std::vector<fs::path>& files)
    {
        auto line = owner.nextLine();
        while (line == "refused")
            line = owner.nextLine();
        if (line != "served")
            return ::testing::AssertionFailure() << "the monitor never had the source's list";
        return controlAndLetGo(files);
    }

    // Control held for the actions of `files`, then the button let go: the drag ends.
    ::testing::AssertionResult controlAndLetGo(const std::vector<fs::path>& files)
    {
        REQUIRE(hold("Control_L", "actions", true, join(files)));
        REQUIRE(drive("release"));
        return probe_.expect("ended");
    }

    static std::vector<std::string> strings(const std::vector<fs::path>& files)
    {
        std::vector<std::string> list;
        for (const auto& file : files)
            list.push_back(file.string());
        return list;
    }
    static std::string join(const std::vector<fs::path>& files)
    {
        std::string line;
        for (const auto& file : files)
            line += (line.empty() ? "" : "|") + file.string();
        return line;
    }

    Child source_;
    Child probe_;
    Child driver_;
    std::string expectedFiles_;
    Point files_;
    Point text_;
};

TEST(DragMonitorX11, RealDragsAreSeenWithTheirFilesAndKeys)
{
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run through tests/support/with-x";
    TempDir dir;
    // A space and accents make the drag source percent-encode the names.
    const std::vector<fs::path> files = {dir / "foto de férias.png", dir / "relatório.pdf", dir / "a.txt"};
    for (const auto& file : files)
        writeFile(file, "x");
    for (auto key : {SettingKey::singleKey, SettingKey::convertKey, SettingKey::toolsKey, SettingKey::actionsKey})
        Defaults::remove(key);

    Desktop desktop(files);
    ASSERT_TRUE(desktop.setUp());
    int passed = 0;
    for (int round = 0; round < rounds; ++round) {
        auto result = desktop.separateKeys();
        if (result)
            result = desktop.singleKey(round);
        if (result)
            result = desktop.textOnly();
        if (!result) {
            ADD_FAILURE() << "round " << round + 1 << ": " << result.message();
            break;
        }
        ++passed;
    }
    if (passed == rounds) {
        Child owner(SELECTION_OWNER, {(dir / "lista").string(), "5000"});
        std::vector<fs::path> many;
        for (int i = 1; i <= 5000; ++i)
            many.push_back(dir / "lista" / ("arquivo " + std::to_string(i) + ".jpg"));
        EXPECT_TRUE(desktop.longList(owner, many));
        // The last drag's end came once: the next thing the probe says belongs to a new drag.
        EXPECT_TRUE(desktop.beginDrag(true));
        EXPECT_TRUE(desktop.drop());
    }
    std::printf("rounds passed: %d of %d\n", passed, rounds);
    EXPECT_EQ(passed, rounds);
}

// The monitor reads a list of `count` from a source that `plays` a part.
void readsTheListFrom(::testing::AssertionResult (Desktop::*plays)(Child&, const std::vector<fs::path>&), int count = 3)
{
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run through tests/support/with-x";
    TempDir dir;
    const std::vector<fs::path> files = {dir / "a.txt"};
    writeFile(files.front(), "x");
    Desktop desktop(files);
    ASSERT_TRUE(desktop.setUp());
    Child owner(SELECTION_OWNER, {(dir / "poucos").string(), std::to_string(count)});
    std::vector<fs::path> listed;
    for (int i = 1; i <= count; ++i)
        listed.push_back(dir / "poucos" / ("arquivo " + std::to_string(i) + ".jpg"));
    EXPECT_TRUE((desktop.*plays)(owner, listed));
}

TEST(DragMonitorX11, ASourceThatWentOnIsAskedAgainWithItsNewTime) { readsTheListFrom(&Desktop::movedOn); }

TEST(DragMonitorX11, ASourceAheadOfTheInputIsAskedAgainOnceThePointerMoves)
{
    readsTheListFrom(&Desktop::aheadOfTheInput);
}

// A list long enough to come in chunks, which the monitor takes only once it has the answer.
TEST(DragMonitorX11, AnEarlierSourcesLateRefusalIsNotTakenForTheNewOnesAnswer)
{
    readsTheListFrom(&Desktop::lateRefusal, 2000);
}

// A real XDND drop on the card fan: a drop over the fan but off every card is refused, one on a
// card is taken as a copy (a move would have the file manager delete the files) and reports the
// card under the pointer with the files.
// Presses on the drag source at `source`, drags to `target` with a little wiggle there (drop
// targets answer the motion they see) and releases; then the source must report `action`.
::testing::AssertionResult dropFiles(Child& driver, Child& drag, Point source, Point target, const std::string& action)
{
    for (const auto& command : {"move " + std::to_string(source.x) + " " + std::to_string(source.y),
             std::string("press"), std::string("glide 12 0 2")}) {
        driver.send(command);
        REQUIRE(driver.expect("ok"));
    }
    // A drag that never started leaves the button down, which would spoil every later drag.
    if (auto started = drag.expect("drag"); !started) {
        driver.send("release");
        driver.expect("ok");
        return started;
    }
    for (const auto& command :
        {"glide " + std::to_string(target.x - source.x - 12) + " " + std::to_string(target.y - source.y) + " 25",
            std::string("pause 200"), std::string("glide 2 2 2"), std::string("pause 200"),
            std::string("glide -2 -2 2"), std::string("pause 200"), std::string("release")}) {
        driver.send(command);
        REQUIRE(driver.expect("ok"));
    }
    return drag.expect("dropped " + action);
}

TEST(CardFanX11, DropsPickTheCardUnderThePointerAsACopy)
{
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run through tests/support/with-x";
    TempDir dir;
    const std::vector<fs::path> files = {dir / "foto de férias.png", dir / "b.png"};
    for (const auto& file : files)
        writeFile(file, "x");
    Child fan(FAN_DROP_PROBE);
    const auto fanReady = fan.nextLine();
    ASSERT_TRUE(fanReady) << "the fan never showed";
    Point card, gap, source;
    std::string word;
    std::istringstream(*fanReady) >> word >> card.x >> card.y >> gap.x >> gap.y;
    ASSERT_EQ(word, "ready") << *fanReady;

    Child drag(DRAG_SOURCE, {"--action", files[0].string(), files[1].string()});
    const auto dragReady = drag.nextLine();
    ASSERT_TRUE(dragReady) << "the drag source never showed";
    std::istringstream(*dragReady) >> word >> source.x >> source.y;
    Child driver(XTEST_DRIVER);
    auto dropAt = [&](Point target, const std::string& action) {
        return dropFiles(driver, drag, source, target, action);
    };
    EXPECT_TRUE(dropAt(gap, "none"));
    EXPECT_TRUE(dropAt(card, "copy"));
    // The refused drop picked nothing: the first pick is the card's.
    EXPECT_TRUE(fan.expect("pick D " + files[0].string() + "|" + files[1].string()));
}

// A Qt drag source hands its files only to a request stamped with its latest position's time. One
// that went on before the fan's request for its first position reached it (common under load)
// refuses that request; the fan must read the files again at the next position rather than
// refuse the whole drag, and take the drop.
TEST(CardFanX11, TakesADropFromASourceThatWentOnBeforeHandingItsFiles)
{
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run through tests/support/with-x";
    TempDir dir;
    Child fan(FAN_DROP_PROBE);
    const auto fanReady = fan.nextLine();
    ASSERT_TRUE(fanReady) << "the fan never showed";
    Point card;
    std::string word;
    std::istringstream(*fanReady) >> word >> card.x >> card.y;
    Child source(SELECTION_OWNER, {dir.path().string(), "2"});
    source.send("offer " + std::to_string(card.x) + " " + std::to_string(card.y));
    // The answers to the two positions, past what the source says of the requests.
    std::vector<std::string> answers;
    while (answers.size() < 2) {
        const auto line = source.nextLine();
        ASSERT_TRUE(line) << "the fan stopped answering";
        if (*line == "aceito" || *line == "recusado")
            answers.push_back(*line);
    }
    ASSERT_EQ(answers.back(), "aceito") << "the fan refused the drag it could not read at once";
    source.send("drop");
    EXPECT_TRUE(fan.expect("pick D " + (dir / "arquivo 1.jpg").string() + "|" + (dir / "arquivo 2.jpg").string()));
    auto line = source.nextLine();
    while (line == "served")
        line = source.nextLine();
    EXPECT_EQ(line, "finished copy");
}

// Drops `file` from the drag source on the tools card `label` of a fan made for it. The fan's probe
// tells what the drop started; the source stays until the end, since the drop's data comes from it.
struct ToolDrop {
    std::optional<Child> fan, drag, driver;
    void run(const fs::path& file, const std::string& label)
    {
        fan.emplace(TOOL_DROP_PROBE, std::vector<std::string>{file.string(), label});
        const auto fanReady = fan->nextLine();
        ASSERT_TRUE(fanReady) << "the fan never showed";
        Point card, source;
        std::string word;
        std::istringstream(*fanReady) >> word >> card.x >> card.y;
        ASSERT_EQ(word, "ready") << *fanReady;
        drag.emplace(DRAG_SOURCE, std::vector<std::string>{"--action", file.string()});
        const auto dragReady = drag->nextLine();
        ASSERT_TRUE(dragReady) << "the drag source never showed";
        std::istringstream(*dragReady) >> word >> source.x >> source.y;
        driver.emplace(XTEST_DRIVER);
        EXPECT_TRUE(dropFiles(*driver, *drag, source, card, "copy"));
    }
    // The same with a small black picture made at `picture`.
    void runOnPicture(const fs::path& picture, const std::string& label)
    {
        ASSERT_EQ(runProgram("/usr/bin/vips", {"black", picture.string(), "30", "20"}).exitCode, 0);
        run(picture, label);
    }
};

TEST(CardFanX11, ADropOnRotateWritesTheTurnedPicture)
{
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run through tests/support/with-x";
    TempDir dir;
    ToolDrop drop;
    ASSERT_NO_FATAL_FAILURE(drop.runOnPicture(dir / "foto.png", "GIRAR"));
    const auto output = dir / "foto (girado).png";
    EXPECT_TRUE(drop.fan->expect("job done foto.png Girar 90° " + output.string()));
    EXPECT_TRUE(drop.fan->expect("panel shown Brivlon! foto (girado).png · clique para ver"));
    EXPECT_EQ(runProgram("/usr/bin/vipsheader", {"-f", "height", output.string()}).out, "30\n");
}

TEST(CardFanX11, ADropOnTrimOpensTheEditor)
{
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run through tests/support/with-x";
    TempDir dir;
    const auto clip = dir / "clipe.mp4";
    ASSERT_TRUE(makeMedia(clip, "testsrc=duration=2:size=160x120"));
    ToolDrop drop;
    ASSERT_NO_FATAL_FAILURE(drop.run(clip, "APARAR"));
    EXPECT_TRUE(drop.fan->expect("window Aparar"));
}

// A tool that asks first opens its panel with the keyboard in it; Escape closes it and nothing runs.
TEST(CardFanX11, ADropOnCompressOpensAPanelThatEscapeCloses)
{
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run through tests/support/with-x";
    TempDir dir;
    ToolDrop drop;
    ASSERT_NO_FATAL_FAILURE(drop.runOnPicture(dir / "foto.png", "COMPRIMIR"));
    ASSERT_TRUE(drop.fan->expect("window Comprimir"));
    ASSERT_TRUE(drop.fan->expect("active Comprimir"));
    for (const char* command : {"down Escape", "up Escape"}) {
        drop.driver->send(command);
        ASSERT_TRUE(drop.driver->expect("ok"));
    }
    EXPECT_TRUE(drop.fan->expect("closed Comprimir"));
}

}
