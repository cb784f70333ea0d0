#include "imaging/imageUtils.h"

#include <QColor>

#include <gtest/gtest.h>

namespace {

// Every pixel different, so any misplaced byte shows.
QImage numbered(int width, int height, QImage::Format format = QImage::Format_BGR888)
{
    QImage picture(width, height, format);
    for (int y = 0; y < height; ++y) {
        uchar *row = picture.scanLine(y);
        for (int x = 0; x < width * 3; ++x)
            row[x] = uchar(x * 7 + y * 13 + 1);
    }
    return picture;
}

bool samePixels(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return false;
    for (int y = 0; y < a.height(); ++y) {
        if (memcmp(a.constScanLine(y), b.constScanLine(y), size_t(a.width()) * 3) != 0)
            return false;
    }
    return true;
}

QColor grey(int r, int g, int b)
{
    QImage one(1, 1, QImage::Format_BGR888);
    one.setPixelColor(0, 0, QColor(r, g, b));
    GrayBitmap(one);
    return one.pixelColor(0, 0);
}

TEST(TurnBitmap, QuarterTurnsMoveEdgesAsExpected)
{
    QImage picture(3, 2, QImage::Format_BGR888);
    picture.fill(Qt::black);
    picture.setPixelColor(0, 0, Qt::red); // top-left
    picture.setPixelColor(2, 0, Qt::green); // top-right
    QImage right = picture;
    TurnBitmapRight(right);
    ASSERT_EQ(right.size(), QSize(2, 3));
    EXPECT_EQ(right.pixelColor(1, 0), QColor(Qt::red)); // top-left -> top-right
    EXPECT_EQ(right.pixelColor(1, 2), QColor(Qt::green)); // top-right -> bottom-right
    QImage left = picture;
    TurnBitmapLeft(left);
    ASSERT_EQ(left.size(), QSize(2, 3));
    EXPECT_EQ(left.pixelColor(0, 2), QColor(Qt::red)); // top-left -> bottom-left
    EXPECT_EQ(left.pixelColor(0, 0), QColor(Qt::green)); // top-right -> top-left
}

TEST(TurnBitmap, TurnsUndoEachOtherByteForByte)
{
    const QImage start = numbered(641, 479); // rows padded in memory
    QImage picture = start;
    TurnBitmapRight(picture);
    EXPECT_EQ(picture.size(), QSize(479, 641));
    TurnBitmapLeft(picture);
    EXPECT_TRUE(samePixels(picture, start));
    for (int i = 0; i < 4; ++i)
        TurnBitmapRight(picture);
    EXPECT_TRUE(samePixels(picture, start));
    for (int i = 0; i < 4; ++i)
        TurnBitmapLeft(picture);
    EXPECT_TRUE(samePixels(picture, start));
}

TEST(TurnBitmap, TinyAndEmptyPictures)
{
    QImage one = numbered(1, 1);
    const QImage copy = one.copy();
    TurnBitmapRight(one);
    EXPECT_TRUE(samePixels(one, copy));
    QImage empty;
    TurnBitmapLeft(empty);
    EXPECT_TRUE(empty.isNull());
}

TEST(GrayBitmap, SampleValues)
{
    EXPECT_EQ(grey(255, 0, 0), QColor(76, 76, 76));
    EXPECT_EQ(grey(0, 255, 0), QColor(150, 150, 150));
    EXPECT_EQ(grey(0, 0, 255), QColor(27, 27, 27));
    EXPECT_EQ(grey(255, 255, 255), QColor(255, 255, 255));
    EXPECT_EQ(grey(200, 100, 50), QColor(124, 124, 124));
}

TEST(GrayBitmap, RgbOrderedBitmapsUseTheSameWeights)
{
    QImage picture(1, 1, QImage::Format_RGB888);
    picture.setPixelColor(0, 0, QColor(255, 0, 0));
    GrayBitmap(picture);
    EXPECT_EQ(picture.pixelColor(0, 0), QColor(76, 76, 76));
}

TEST(GrayBitmap, IdempotentAndKeepsLayout)
{
    QImage picture = numbered(33, 7);
    GrayBitmap(picture);
    const QImage once = picture.copy();
    GrayBitmap(picture);
    EXPECT_TRUE(samePixels(picture, once));
    EXPECT_EQ(picture.size(), QSize(33, 7));
    EXPECT_EQ(picture.format(), QImage::Format_BGR888);
}

} // namespace
