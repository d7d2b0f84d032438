// The main window under a real X server and window manager: a Qt program drags a picture onto
// it while XTEST plays the hand, then a click on a tile converts the picture. Every step waits
// for a line from the program that must react, with a deadline. Run through support/with-x.

#include "support/line_child.h"
#include "support/test_support.h"

#include <QImage>

#include <gtest/gtest.h>

#include <deque>
#include <sstream>

using namespace TestSupport;

namespace {

::testing::AssertionResult drive(LineChild& driver, const std::string& command)
{
    driver.send(command);
    return driver.expect("ok");
}

struct Point {
    int x = 0;
    int y = 0;
};

::testing::AssertionResult readPoint(LineChild& child, const std::string& word, Point& point)
{
    const auto line = child.nextLine();
    if (!line)
        return ::testing::AssertionFailure() << "waited in vain for \"" << word << "\"";
    std::istringstream words(*line);
    std::string first;
    words >> first;
    words >> point.x >> point.y;
    if (first != word || !words)
        return ::testing::AssertionFailure() << "expected \"" << word << " …\", got \"" << *line << "\"";
    return ::testing::AssertionSuccess();
}

bool savePicture(const fs::path& path)
{
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(QColor(200, 80, 40));
    return image.save(QString::fromStdString(path.string()));
}

// Drags from the source's file half to `target` and lets go there.
::testing::AssertionResult dragOnto(LineChild& source, LineChild& driver, Point from, Point target)
{
    REQUIRE(drive(driver, "move " + std::to_string(from.x) + " " + std::to_string(from.y)));
    REQUIRE(drive(driver, "press"));
    REQUIRE(drive(driver, "glide 12 0 2"));
    REQUIRE(source.expect("drag"));
    for (const auto& step :
        {"glide " + std::to_string(target.x - from.x - 12) + " " + std::to_string(target.y - from.y) + " 25",
            std::string("pause 200"), std::string("glide 2 2 2"), std::string("pause 200"), std::string("release")})
        REQUIRE(drive(driver, step));
    return source.expect("dropped copy");
}

}

TEST(MainWindowX11, ADraggedPictureIsSelectedAndATileConvertsIt)
{
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run through tests/support/with-x";
    TempDir dir;
    const fs::path picture = dir / "foto de férias.png";
    ASSERT_TRUE(savePicture(picture));

    LineChild window(MAIN_WINDOW_PROBE);
    Point drop;
    ASSERT_TRUE(readPoint(window, "ready", drop));
    LineChild source(DRAG_SOURCE, {"--action", picture.string()});
    Point files;
    ASSERT_TRUE(readPoint(source, "ready", files));
    LineChild driver(XTEST_DRIVER);

    ASSERT_TRUE(dragOnto(source, driver, files, drop));
    ASSERT_TRUE(window.expect("files " + picture.string()));

    std::optional<Point> jpg;
    for (auto line = window.nextLine(); line && *line != "laid out"; line = window.nextLine()) {
        std::istringstream words(*line);
        std::string word, label;
        Point tile;
        words >> word >> label >> tile.x >> tile.y;
        if (word == "tile" && label == "JPG")
            jpg = tile;
    }
    ASSERT_TRUE(jpg) << "no JPG tile for a PNG";
    ASSERT_TRUE(drive(driver, "move " + std::to_string(jpg->x) + " " + std::to_string(jpg->y)));
    ASSERT_TRUE(drive(driver, "press"));
    ASSERT_TRUE(drive(driver, "release"));
    const fs::path output = dir / "foto de férias.jpg";
    ASSERT_TRUE(window.expect("done JPG " + output.string()));
    EXPECT_FALSE(QImage(QString::fromStdString(output.string())).isNull());
}

namespace {

// The keyboard's side of the window: keys pressed through the driver, and the window's lines, those
// read past while waiting for where the keyboard went kept for later.
struct Keyboard {
    LineChild& window;
    LineChild& driver;
    std::deque<std::string> aside;

    // Presses `key` (with Shift when `shift`); `focus` becomes where the keyboard went.
    ::testing::AssertionResult press(const std::string& key, std::string& focus, bool shift = false)
    {
        std::vector<std::string> commands{"down " + key, "up " + key};
        if (shift)
            commands = {"down Shift_L", "down " + key, "up " + key, "up Shift_L"};
        for (const auto& command : commands)
            REQUIRE(drive(driver, command));
        // A line for each key pressed, the last one this key's; the work a key started may report
        // between them.
        for (size_t i = 0; i < commands.size() / 2; ++i) {
            auto line = window.nextLine();
            for (; line && line->rfind("focus ", 0) != 0; line = window.nextLine())
                aside.push_back(*line);
            if (!line)
                return ::testing::AssertionFailure() << "no focus line after " << key;
            focus = line->substr(6);
        }
        return ::testing::AssertionSuccess();
    }

    // Tabs (or Shift+Tabs) until the keyboard is on `wanted`, or with a `wanted` ending in a blank
    // on the first part whose name starts so.
    ::testing::AssertionResult tabTo(const std::string& wanted, bool back = false)
    {
        std::string focus, seen;
        for (int i = 0; i < 16; ++i) {
            REQUIRE(press("Tab", focus, back));
            seen += " | " + focus;
            if (focus == wanted || (wanted.ends_with(' ') && focus.starts_with(wanted)))
                return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure() << "never reached \"" << wanted << "\":" << seen;
    }

    // The next line of the window that is not about the focus and starts with `prefix`.
    ::testing::AssertionResult next(const std::string& prefix, std::string& line)
    {
        for (;;) {
            std::optional<std::string> candidate;
            if (!aside.empty()) {
                candidate = aside.front();
                aside.pop_front();
            } else
                candidate = window.nextLine();
            if (!candidate)
                return ::testing::AssertionFailure() << "waited in vain for \"" << prefix << "\"";
            if (candidate->rfind(prefix, 0) == 0) {
                line = *candidate;
                return ::testing::AssertionSuccess();
            }
        }
    }
};

}

// The whole window from the keyboard, with real key presses: Tab goes through the tabs, "Limpar",
// the quality choices and the tiles, Shift+Tab back, Return presses what the keyboard is on.
TEST(MainWindowX11, TabMovesThroughTheControlsAndReturnPressesTheFocusedOne)
{
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run through tests/support/with-x";
    TempDir dir;
    const fs::path picture = dir / "retrato (1).png";
    ASSERT_TRUE(savePicture(picture));

    LineChild window(MAIN_WINDOW_PROBE, {"keys", picture.string()});
    Point centre;
    ASSERT_TRUE(readPoint(window, "ready", centre));
    LineChild driver(XTEST_DRIVER);
    Keyboard keys{window, driver, {}};

    std::string focus, line;
    ASSERT_TRUE(keys.press("Tab", focus));
    EXPECT_EQ(focus, "tab Converter") << "the first Tab marks the first control";
    ASSERT_TRUE(keys.press("Tab", focus));
    EXPECT_EQ(focus, "tab Ferramentas");
    ASSERT_TRUE(keys.press("Return", focus));
    EXPECT_EQ(focus, "tab Ferramentas") << "Return leaves the keyboard where it was";
    ASSERT_TRUE(keys.next("mode ", line));
    EXPECT_EQ(line, "mode Ferramentas");
    // Past "Ações" and "Limpar" to the first tool; Return opens its panel, which has the keyboard,
    // and Escape closes it without running anything.
    ASSERT_TRUE(keys.tabTo("tile "));
    ASSERT_TRUE(keys.press("Return", focus));
    ASSERT_TRUE(keys.next("window ", line));
    EXPECT_NE(line, "window Brivlon");
    ASSERT_TRUE(keys.press("Escape", focus));
    ASSERT_TRUE(keys.next("window ", line));
    EXPECT_EQ(line, "window Brivlon");
    ASSERT_TRUE(keys.tabTo("tab Converter", true));
    ASSERT_TRUE(keys.press("Return", focus));
    ASSERT_TRUE(keys.next("mode ", line));
    EXPECT_EQ(line, "mode Converter");
    // Before the first control, Shift+Tab goes round to the last one: the last tile.
    ASSERT_TRUE(keys.press("Tab", focus, true));
    EXPECT_EQ(focus.rfind("tile ", 0), 0u) << focus;

    // Forward again to "Limpar", through the choices of quality, to the JPG tile.
    ASSERT_TRUE(keys.tabTo("button Limpar"));
    ASSERT_TRUE(keys.tabTo("quality 0"));
    ASSERT_TRUE(keys.tabTo("tile JPG"));
    ASSERT_TRUE(keys.press("Return", focus));
    ASSERT_TRUE(keys.next("done JPG ", line));
    const fs::path output = dir / "retrato (1).jpg";
    EXPECT_EQ(line, "done JPG " + output.string());
    EXPECT_FALSE(QImage(QString::fromStdString(output.string())).isNull());

    ASSERT_TRUE(keys.tabTo("button Limpar", true));
    ASSERT_TRUE(keys.press("Return", focus));
    ASSERT_TRUE(keys.next("files", line));
    EXPECT_EQ(line, "files ");
    // The one job was the conversion: the tool's panel ran nothing.
    for (const auto& left : keys.aside)
        EXPECT_NE(left.rfind("done ", 0), 0u) << left;
}

// A menu of the bar opened with the pointer and closed with Escape gives the keyboard back: the
// next Tab moves on from where it was, Shift+Tab back.
TEST(MainWindowX11, TabLeavesTheMenuBarAfterEscape)
{
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run through tests/support/with-x";
    TempDir dir;
    const fs::path picture = dir / "a.png";
    ASSERT_TRUE(savePicture(picture));
    LineChild window(MAIN_WINDOW_PROBE, {"keys", picture.string()});
    Point centre, bar;
    ASSERT_TRUE(readPoint(window, "ready", centre));
    ASSERT_TRUE(readPoint(window, "bar", bar));
    LineChild driver(XTEST_DRIVER);
    Keyboard keys{window, driver, {}};

    std::string focus;
    ASSERT_TRUE(keys.press("Tab", focus));
    EXPECT_EQ(focus, "tab Converter");
    for (const auto& step : {"move " + std::to_string(bar.x) + " " + std::to_string(bar.y), std::string("press"),
             std::string("release")})
        ASSERT_TRUE(drive(driver, step));
    // What else the window says meanwhile (the menu's window taking the keyboard) is passed over.
    const auto until = [&](const std::string& wanted) {
        for (auto line = window.nextLine(); line; line = window.nextLine())
            if (*line == wanted)
                return true;
        return false;
    };
    ASSERT_TRUE(until("menu open"));
    for (const char* step : {"down Escape", "up Escape"})
        ASSERT_TRUE(drive(driver, step));
    ASSERT_TRUE(until("menu closed"));
    ASSERT_TRUE(keys.press("Tab", focus));
    EXPECT_EQ(focus, "tab Ferramentas") << "Tab stayed on the bar";
    ASSERT_TRUE(keys.press("Tab", focus, true));
    EXPECT_EQ(focus, "tab Converter");
}

// While Shift is held GTK's drag sources offer a move alone: the window still takes the picture,
// as a copy, and the source keeps it after its own end of the drag (it removes what it is told
// was moved).
TEST(MainWindowX11, AShiftDragFromGtkIsTakenAsACopy)
{
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run through tests/support/with-x";
    TempDir dir;
    LineChild window(MAIN_WINDOW_PROBE);
    Point drop;
    ASSERT_TRUE(readPoint(window, "ready", drop));
    LineChild driver(XTEST_DRIVER);
    for (const std::string gtk : {"3", "4"}) {
        const fs::path picture = dir / ("arrastada do gtk " + gtk + ".png");
        QImage image(40, 30, QImage::Format_RGB32);
        image.fill(QColor(20, 120, 200));
        ASSERT_TRUE(image.save(QString::fromStdString(picture.string())));
        const auto before = readFile(picture);
        LineChild source("/usr/bin/python3", {GTK_DRAG_SOURCE, gtk, picture.string()});
        Point from;
        ASSERT_TRUE(readPoint(source, "ready", from));
        ASSERT_TRUE(drive(driver, "down Shift_L"));
        EXPECT_TRUE(dragOnto(source, driver, from, drop)) << "GTK " << gtk;
        ASSERT_TRUE(drive(driver, "up Shift_L"));
        EXPECT_EQ(readFile(picture), before) << "GTK " << gtk << ": the source's file went or changed";
        std::optional<std::string> files;
        while ((files = window.nextLine()) && files->rfind("files ", 0) != 0) { }
        EXPECT_EQ(files.value_or("nothing"), "files " + picture.string());
    }
}
