// The main window under a real X server and window manager: a Qt program drags a picture onto
// it while XTEST plays the hand, then a click on a tile converts the picture. Every step waits
// for a line from the program that must react, with a deadline. Run through support/with-x.

#include "support/line_child.h"
#include "support/test_support.h"

#include <QImage>

#include <gtest/gtest.h>

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
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(QColor(200, 80, 40));
    ASSERT_TRUE(image.save(QString::fromStdString(picture.string())));

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
