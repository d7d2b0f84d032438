#include "platform/window_places.h"

#include <gtest/gtest.h>

// The settings window's fitting, on a visible area that starts below a 30-high top panel.
TEST(WindowPlaces, FittingKeepsAFrameWholeAndTenInside)
{
    const QRect area(0, 30, 1280, 800);
    EXPECT_EQ(WindowPlaces::fitted(QRect(100, 100, 600, 500), area), QRect(100, 100, 600, 500)) << "fits: stays";
    EXPECT_EQ(WindowPlaces::fitted(QRect(100, 100, 500, 700), area), QRect(100, 100, 540, 600))
        << "narrower than 520: the default size where it stands";
    EXPECT_EQ(WindowPlaces::fitted(QRect(100, 100, 600, 370), area).size(), QSize(540, 600));
    EXPECT_EQ(WindowPlaces::fitted(QRect(100, 100, 540, 900), area), QRect(100, 40, 540, 780))
        << "too high: the area less 20, its top 10 below the area's";
    EXPECT_EQ(WindowPlaces::fitted(QRect(-300, -50, 600, 500), area).topLeft(), QPoint(10, 40));
    EXPECT_EQ(
        WindowPlaces::fitted(QRect(1200, 700, 600, 500), area).topLeft(), QPoint(1280 - 600 - 10, 830 - 500 - 10));
    // On an area smaller than the smallest frame, the top and left edges win.
    EXPECT_EQ(WindowPlaces::fitted(QRect(50, 50, 600, 500), QRect(0, 0, 400, 300)), QRect(10, 10, 380, 280));
}

TEST(WindowPlaces, CentringSplitsTheRoomLeft)
{
    EXPECT_EQ(WindowPlaces::centred(QSize(580, 600), QRect(0, 0, 1280, 1024)), QPoint(350, 212));
    EXPECT_EQ(WindowPlaces::centred(QSize(580, 600), QRect(1280, 30, 1920, 1050)), QPoint(1280 + 670, 30 + 225));
}
