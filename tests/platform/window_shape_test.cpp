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
    // The disc's edge follows the pixels: its area is that of the opaque ones, half a pixel in.
    int area = 0;
    for (const QRect& rect : shape.intersected(QRect(0, 0, 100, 100)))
        area += rect.width() * rect.height();
    EXPECT_NEAR(area, M_PI * 39.5 * 39.5, 80);

    QImage empty(10, 10, QImage::Format_ARGB32_Premultiplied);
    empty.fill(Qt::transparent);
    EXPECT_TRUE(WindowShape::opaqueRegion(empty).isEmpty());
}

// The server shows a kept pixel's colour as painted over black: an antialiased edge kept in the
// shape is a dark rim round the wheel. The edge of the shape is opaque all round (a pixel the
// antialiasing left a hair short of it is no rim), while a translucent surface keeps its inside.
TEST(WindowShape, TheEdgeKeepsNoPartlyTransparentPixel)
{
    QImage image(120, 120, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, 90));  // the wheel's soft shadow, a little lower
        painter.drawEllipse(QPointF(60, 64), 52, 52);
        painter.setBrush(QColor(230, 230, 232));
        painter.drawEllipse(QPointF(60, 60), 47.3, 47.3);
        painter.setBrush(QColor(40, 40, 44, 200));  // a glass hub
        painter.drawEllipse(QPointF(60, 60), 15.6, 15.6);
    }
    const QRegion shape = WindowShape::opaqueRegion(image);
    int edge = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            if (!shape.contains(QPoint(x, y)))
                continue;
            const bool onEdge = !shape.contains(QPoint(x - 1, y)) || !shape.contains(QPoint(x + 1, y))
                || !shape.contains(QPoint(x, y - 1)) || !shape.contains(QPoint(x, y + 1));
            if (onEdge) {
                ++edge;
                EXPECT_GE(qAlpha(image.pixel(x, y)), 245) << "at " << x << "," << y;
            }
        }
    EXPECT_GT(edge, 200) << "the disc's whole edge";
    EXPECT_TRUE(shape.contains(QPoint(60, 60))) << "the glass hub";
    EXPECT_FALSE(shape.contains(QPoint(60, 114))) << "the shadow below the disc";
}
