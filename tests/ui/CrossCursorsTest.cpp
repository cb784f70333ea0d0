#include "ui/CrossCursors.h"

#include <QImage>
#include <QPixmap>

#include <gtest/gtest.h>

TEST(CrossCursors, FourCrosshairsAreRegisteredWithTheirColours)
{
    CrossCursors::LoadCrossCursors();
    const QColor colours[] = {{0, 0, 0}, {0, 255, 0}, {255, 0, 0}, {255, 251, 255}};
    for (int number = 1; number <= 4; ++number) {
        ASSERT_TRUE(CrossCursors::isRegistered(number)) << number;
        const QCursor cursor = CrossCursors::cursor(number);
        EXPECT_EQ(cursor.hotSpot(), QPoint(15, 15));
        const QImage shape = cursor.pixmap().toImage().convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(shape.size(), QSize(32, 32));
        int opaque = 0;
        for (int y = 0; y < 32; ++y) {
            for (int x = 0; x < 32; ++x) {
                const bool onCross = (y == 15 && x >= 11 && x <= 19) || (x == 15 && y >= 11 && y <= 19);
                const QColor pixel = shape.pixelColor(x, y);
                if (onCross) {
                    EXPECT_EQ(pixel, colours[number - 1]) << number << " at " << x << "," << y;
                } else {
                    EXPECT_EQ(pixel.alpha(), 0) << number << " at " << x << "," << y;
                }
                opaque += pixel.alpha() == 255;
            }
        }
        EXPECT_EQ(opaque, 17);
    }
    EXPECT_FALSE(CrossCursors::isRegistered(5));
    EXPECT_EQ(CrossCursors::cursor(5).shape(), Qt::ArrowCursor);
}
