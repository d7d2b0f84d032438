#include "menus/theme_preview.h"

#include <QImage>

#include <gtest/gtest.h>

TEST(ThemePreview, SnapshotsAreKeptAndShowTheThirdCardRaised)
{
    EXPECT_EQ(WheelSnapshot::key(WheelMode::tools, AppTheme::classic, false), "tools-classic-false");
    const QImage first = WheelSnapshot::image(WheelMode::convert, AppTheme::stage, true);
    ASSERT_EQ(first.size(), QSize(536, 326));
    // Asked again: the very same picture, not a new render.
    EXPECT_EQ(WheelSnapshot::image(WheelMode::convert, AppTheme::stage, true).constBits(), first.constBits());

    // The raised card wears the mode's colour: stage dark's pink for convert, somewhere above the
    // resting cards' tops; the classic light picture has none of it.
    auto holds = [](const QImage& image, QRgb wanted) {
        for (int y = 0; y < image.height(); y += 2)
            for (int x = 0; x < image.width(); x += 2)
                if (image.pixel(x, y) == wanted)
                    return true;
        return false;
    };
    EXPECT_TRUE(holds(first, qRgb(255, 46, 126)));
    EXPECT_FALSE(holds(WheelSnapshot::image(WheelMode::convert, AppTheme::classic, false), qRgb(255, 46, 126)));
}
