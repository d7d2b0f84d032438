#include "menus/wheel_view.h"
#include "menus/wheel_window.h"
#include "platform/fake_drag_input.h"
#include "support/test_support.h"

#include <QCursor>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>

using namespace TestSupport;

namespace {
// A point at `distance` from the centre, `degrees` clockwise from twelve o'clock (Qt coordinates).
QPointF clockwise(double distance, double degrees)
{
    const double a = degrees * M_PI / 180;
    return {190 + distance * std::sin(a), 190 - distance * std::cos(a)};
}

bool isAccent(QRgb pixel) { return qBlue(pixel) > 200 && qRed(pixel) < 60 && qAlpha(pixel) > 200; }

// How much the frame covers: its summed opacity.
long long coverage(const QImage& image)
{
    long long sum = 0;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2)
            sum += qAlpha(image.pixel(x, y));
    return sum;
}
}

TEST(Wheel, SegmentsCountClockwiseFromTheTop)
{
    EXPECT_EQ(WheelDrawing::segmentAt(clockwise(100, 0), 6), 0);
    EXPECT_EQ(WheelDrawing::segmentAt(clockwise(100, 29), 6), 0);
    EXPECT_EQ(WheelDrawing::segmentAt(clockwise(100, 31), 6), 1);  // the boundary lies at 30°
    EXPECT_EQ(WheelDrawing::segmentAt(clockwise(100, 240), 6), 4);
    EXPECT_EQ(WheelDrawing::segmentAt(clockwise(195, 0), 6), std::nullopt);
    EXPECT_EQ(WheelDrawing::segmentAt(clockwise(40, 0), 6), std::nullopt);  // the hub
    EXPECT_TRUE(WheelDrawing::overHub(clockwise(40, 123)));
    EXPECT_EQ(WheelDrawing::segmentAt(clockwise(100, 0), 0), std::nullopt);

    const auto glass = Theme::palette(false, AppTheme::macos);
    // More and longer labels get no larger type.
    std::vector<WheelEntry> few(3), many(12);
    for (auto& entry : few)
        entry.label = "JPG";
    for (auto& entry : many)
        entry.label = "REDIMEN- SIONAR";
    EXPECT_GT(WheelDrawing::labelSize(few, glass, WheelMode::convert),
        WheelDrawing::labelSize(many, glass, WheelMode::convert));
}

TEST(Wheel, RenderedFromTheCommandLine)
{
    TempDir dir;
    auto run = runBrivlon({"--render-wheel", "convert", "png", (dir / "w.png").string()}, 30);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const QImage still((dir / "w.png").c_str());
    ASSERT_EQ(still.size(), QSize(380, 380));
    // Seven formats for a PNG: the second segment, just right of the top, is lit; the first is not.
    const double step = 360.0 / 7;
    EXPECT_TRUE(isAccent(still.pixel(clockwise(115, step).toPoint())));
    EXPECT_TRUE(isAccent(still.pixel(clockwise(161, step).toPoint())));  // lifted outwards, past the rest
    EXPECT_FALSE(isAccent(still.pixel(clockwise(64, step).toPoint())));
    EXPECT_FALSE(isAccent(still.pixel(clockwise(115, 0).toPoint())));
    EXPECT_EQ(qAlpha(still.pixel(2, 2)), 0);

    run = runBrivlon({"--render-wheel-anim", "tools", "mov", (dir / "a").string()}, 30);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::vector<long long> areas;
    for (int k = 0; k < 6; ++k) {
        const QImage frame((dir / ("a" + std::to_string(k) + ".png")).c_str());
        ASSERT_FALSE(frame.isNull()) << k;
        areas.push_back(coverage(frame));
        // Only the last frame lights a segment: the third of four, at the bottom.
        EXPECT_EQ(isAccent(frame.pixel(clockwise(115, 180).toPoint())), k == 5) << k;
    }
    // The wheel grows as it opens (overshooting a little on the way).
    EXPECT_LT(areas[0], areas[1]);
    EXPECT_LT(areas[1], areas[2]);
    EXPECT_LT(areas[0], areas[5]);
    EXPECT_FALSE(fs::exists(dir / "a6.png"));

    // A mode that is not one starts the program as usual and draws nothing.
    run = runBrivlon({"--render-wheel", "video", "png", (dir / "no.png").string()}, 3);
    EXPECT_FALSE(fs::exists(dir / "no.png"));
}

TEST(Wheel, GlassWheelKeepsItsBackdropWithoutCards)
{
    for (bool dark : {false, true}) {
        WheelState state;
        state.configure({}, "Converter", "exemplo.xyz", WheelMode::convert, "Sem conversões\npara este arquivo", {});
        QImage image(380, 380, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        const auto palette = Theme::palette(dark, AppTheme::macos);
        EXPECT_TRUE(WheelDrawing::paint(painter, state, 0, palette).shown);
        painter.end();
        // Below the message the disc is there, and the message's colour stands out on it.
        const QColor backdrop = QColor::fromRgba(image.pixel(clockwise(120, 180).toPoint()));
        EXPECT_GT(backdrop.alpha(), 190) << dark;
        EXPECT_GT(std::abs(backdrop.lightnessF() - palette.text.lightnessF()), 0.6) << dark;
    }
}

const bool widgets = TestSupport::wantWidgets();

// The quality cards take no focus, so clicks elsewhere are seen by looking at the buttons: a left
// or right button going down away from the cards counts, the drop's own press still held does not.
TEST(WheelWindow, APressOfEitherButtonAwayFromTheCardsIsAClickOutside)
{
    auto input = std::make_shared<FakeDragInput>();
    WheelWindow window(input);
    window.placePanel(QRectF(100, 100, 300, 300));
    QCursor::setPos(700, 700);
    int clicks = 0;
    input->leftButton = true;
    window.watchClicksOutside([&] {
        ++clicks;
    });
    window.pollClick();
    EXPECT_EQ(clicks, 0) << "the press that dropped the files";
    input->rightButton = true;
    window.pollClick();
    EXPECT_EQ(clicks, 1) << "a right click while the left button is still held";
    input->leftButton = input->rightButton = false;
    window.pollClick();
    input->rightButton = true;
    window.pollClick();
    window.pollClick();
    EXPECT_EQ(clicks, 2) << "one click per press";

    input->rightButton = false;
    window.pollClick();
    QCursor::setPos(window.panel().geometry().center());
    input->leftButton = true;
    window.pollClick();
    EXPECT_EQ(clicks, 2) << "a click on the cards is theirs";
    window.orderOut();
}
