// Where the menus take a drop: the area their window holds from the first frame, and the entry a
// drop picks, which is the one under the drop whatever a position lit before.
#include "menus/card_fan.h"
#include "menus/drawing_kit.h"
#include "menus/wheel_view.h"
#include "support/test_support.h"

#include <QCoreApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include <gtest/gtest.h>

#include <cmath>

using namespace TestSupport;

namespace {

std::vector<WheelEntry> entries(int count)
{
    std::vector<WheelEntry> result(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        result[size_t(i)].label = "E" + std::to_string(i);
    return result;
}

// Drops `file` at `point` of `surface` and answers the label of the entry picked, if any.
std::optional<std::string> dropAt(QWidget& widget, MenuSurface& surface, QPointF point, const fs::path& file)
{
    std::optional<std::string> picked;
    surface.onPick = [&picked](const WheelEntry::Paths&, const WheelEntry& entry) {
        picked = entry.label;
    };
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(file.string()))});
    // Qt hands a drop to the widget that took the drag's enter.
    QDragEnterEvent enter(point.toPoint(), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::ShiftModifier);
    QCoreApplication::sendEvent(&widget, &enter);
    QDropEvent drop(point, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::ShiftModifier);
    QCoreApplication::sendEvent(&widget, &drop);
    QCoreApplication::processEvents();
    return picked;
}

}

// The fan's window holds the drop area before the cards have flown to their places: every point
// that finds a card lies in it, and it covers little more, or it would take drops meant for the
// windows beneath the fan's gaps.
TEST(DropArea, TheFansAreaHoldsEveryPointThatFindsACardAndLittleElse)
{
    for (int count : {1, 5, 6, 14, 18})
        for (bool down : {false, true}) {
            SCOPED_TRACE(std::to_string(count) + (down ? " down" : " up"));
            CardFan fan;
            fan.configure(entries(count), "", "", WheelMode::convert, "", std::nullopt);
            fan.setOpensDown(down);
            const QRegion area = fan.dropArea();
            int cards = 0, missed = 0;
            for (int y = 0; y < 450; ++y)
                for (int x = 0; x < 660; ++x)
                    if (fan.cardAt(QPointF(x + 0.5, y + 0.5))) {
                        ++cards;
                        missed += !area.contains(QPoint(x, y));
                    }
            EXPECT_EQ(missed, 0);
            long long covered = 0;
            for (const QRect& rect : area)
                covered += qint64(rect.width()) * rect.height();
            EXPECT_LT(double(covered), 1.15 * cards);
        }
}

// A drop picks the entry under it: a drop off every entry picks none, whatever a position lit
// before, and one on another entry than the lit one picks that one.
TEST(DropArea, ADropPicksTheEntryUnderItNotTheOneLit)
{
    TempDir dir;
    const auto file = dir / "foto.png";
    writeFile(file, "png");

    CardFan fan;
    fan.configure(entries(5), "", "", WheelMode::convert, "", std::nullopt);
    fan.preselect(0);
    const auto centre = [&fan](int index) {
        const auto& state = fan.state();
        return Draw::fromYUp(
            FanGeometry::centre(state.size, false, FanGeometry::baseAngle(index, 5), FanGeometry::radius),
            state.size.height());
    };
    EXPECT_EQ(dropAt(fan, fan, centre(3), file), "E3");
    // Off every card nothing is picked, though a card is lit.
    fan.preselect(1);
    EXPECT_EQ(dropAt(fan, fan, fan.anchor(), file), std::nullopt);

    WheelView wheel;
    wheel.configure(entries(6), "", "", WheelMode::convert, "", std::nullopt);
    wheel.preselect(0);
    // Segment 2 of six stands at 120 degrees clockwise from the top.
    EXPECT_EQ(
        dropAt(wheel, wheel, {190 + 100 * std::sin(2 * M_PI / 3), 190 - 100 * std::cos(2 * M_PI / 3)}, file), "E2");
}
