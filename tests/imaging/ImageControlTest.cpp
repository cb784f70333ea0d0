#include "imaging/ImageControl.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class ImageControlTest : public ::testing::Test {
protected:
    ImageControlTest()
    {
        parent.resize(100, 80);
        parent.setAutoFillBackground(true);
        QPalette palette;
        palette.setColor(QPalette::Window, Qt::red);
        parent.setPalette(palette);
        image->setGeometry(0, 0, 100, 80);
    }

    QWidget parent;
    ImageControl *image = new ImageControl(&parent);
};

TEST_F(ImageControlTest, ClickAndDoubleClickSignals)
{
    QSignalSpy clicks(image, &ImageControl::clicked);
    QSignalSpy doubles(image, &ImageControl::doubleClicked);
    QSignalSpy presses(image, &ImageControl::mousePressed);
    QTest::mouseClick(image, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(clicks.count(), 1);
    // The release that ends a double-click is no click of its own.
    QTest::mouseDClick(image, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(doubles.count(), 1);
    EXPECT_EQ(clicks.count(), 1);
    QTest::mouseClick(image, Qt::RightButton, {}, QPoint(10, 10));
    EXPECT_EQ(presses.last().at(0).value<Qt::MouseButton>(), Qt::RightButton);
    EXPECT_EQ(doubles.count(), 1);
    EXPECT_EQ(clicks.count(), 1);
}

TEST_F(ImageControlTest, StretchesThePicture)
{
    QImage picture(10, 8, QImage::Format_BGR888);
    picture.fill(Qt::blue);
    image->setPicture(picture);
    const QImage shown = parent.grab().toImage();
    EXPECT_EQ(shown.pixelColor(95, 75), QColor(Qt::blue));
}

TEST_F(ImageControlTest, TransparentDrawingKeysOnTheBottomLeftPixel)
{
    QImage picture(100, 80, QImage::Format_BGR888);
    picture.fill(Qt::white);
    picture.setPixelColor(50, 40, Qt::black);
    image->setPicture(picture);
    image->setTransparent(true);
    QImage shown = parent.grab().toImage();
    EXPECT_EQ(shown.pixelColor(10, 10), QColor(Qt::red));
    EXPECT_EQ(shown.pixelColor(50, 40), QColor(Qt::black));
    // Drawing on the canvas is seen at the next paint.
    image->canvas().setPixelColor(20, 20, Qt::green);
    shown = parent.grab().toImage();
    EXPECT_EQ(shown.pixelColor(20, 20), QColor(Qt::green));
    image->setTransparent(false);
    shown = parent.grab().toImage();
    EXPECT_EQ(shown.pixelColor(10, 10), QColor(Qt::white));
}

} // namespace
