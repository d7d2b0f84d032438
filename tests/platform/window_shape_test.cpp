// The shape a translucent window takes without a compositing manager, cut from what it painted.

#include "platform/window_shape.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

TEST(WindowShape, KeepsWhatIsMostlyOpaqueAndLeavesShadowsAndGaps)
{
    QImage image(200, 120, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillRect(QRect(0, 100, 200, 20), QColor(0, 0, 0, 60));  // a soft shadow
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::white);
        painter.drawEllipse(QRectF(10, 10, 80, 80));
        painter.drawRect(QRectF(120, 20, 40, 40));
        painter.setBrush(QColor(255, 255, 255, 140));  // a translucent card still counts
        painter.drawRect(QRectF(170, 20, 20, 40));
    }
    const QRegion shape = WindowShape::opaqueRegion(image);
    EXPECT_TRUE(shape.contains(QPoint(50, 50)));
    EXPECT_TRUE(shape.contains(QPoint(140, 40)));
    EXPECT_TRUE(shape.contains(QPoint(180, 40)));
    EXPECT_FALSE(shape.contains(QPoint(14, 14))) << "the corner beside the disc";
    EXPECT_FALSE(shape.contains(QPoint(105, 40))) << "the gap between the cards";
    EXPECT_FALSE(shape.contains(QPoint(50, 110))) << "the shadow";
    // Rows alike are one band: the square is one rectangle, not forty.
    EXPECT_EQ(shape.intersected(QRect(115, 15, 50, 50)).rectCount(), 1);
    // The disc's edge follows the pixels, about its area.
    int area = 0;
    for (const QRect& rect : shape.intersected(QRect(0, 0, 100, 100)))
        area += rect.width() * rect.height();
    EXPECT_NEAR(area, M_PI * 40 * 40, 150);

    QImage empty(10, 10, QImage::Format_ARGB32_Premultiplied);
    empty.fill(Qt::transparent);
    EXPECT_TRUE(WindowShape::opaqueRegion(empty).isEmpty());
}
