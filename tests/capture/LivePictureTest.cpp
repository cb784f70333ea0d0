#include "CaptureFixture.h"
#include "capture/FrameCopy.h"

#include <QSignalSpy>
#include <QTest>

#include <gst/gst.h>

#include <atomic>
#include <thread>

namespace {

// A frame whose every pixel tells where it came from: blue = x, green = y, red = x ^ y
// (each modulo 256, with the high bits of x and y folded into red so 1600-wide frames stay
// unambiguous in the crop).
QImage CodedFrame(int width, int height)
{
    QImage frame(width, height, QImage::Format_BGR888);
    for (int y = 0; y < height; ++y) {
        uchar *row = frame.scanLine(y);
        for (int x = 0; x < width; ++x) {
            row[x * 3] = uchar(x);
            row[x * 3 + 1] = uchar(y);
            row[x * 3 + 2] = uchar((x >> 8) * 16 + (y >> 8));
        }
    }
    return frame;
}

QImage StartPicture()
{
    QImage grey(640, 480, QImage::Format_BGR888);
    grey.fill(QColor(128, 128, 128));
    return grey;
}

} // namespace

class FrameCopyTest : public ::testing::Test {
protected:
    QImage copied(const QImage &frame)
    {
        QImage live = StartPicture();
        CopyFrameCentre(frame.constBits(), frame.width(), frame.height(), frame.bytesPerLine(), live);
        return live;
    }
};

TEST_F(FrameCopyTest, FrameOf640x480ShowsWhole)
{
    const QImage frame = CodedFrame(640, 480);
    EXPECT_EQ(copied(frame), frame);
}

TEST_F(FrameCopyTest, FrameOf1280x720ShowsItsCentrePixelForPixel)
{
    const QImage frame = CodedFrame(1280, 720);
    EXPECT_EQ(copied(frame), frame.copy(320, 120, 640, 480));
}

TEST_F(FrameCopyTest, FrameOf1600x1200ShowsColumns480To1119AndRows360To839)
{
    const QImage frame = CodedFrame(1600, 1200);
    const QImage live = copied(frame);
    EXPECT_EQ(live, frame.copy(480, 360, 640, 480));
    EXPECT_EQ(live.pixelColor(0, 0), frame.pixelColor(480, 360));
    EXPECT_EQ(live.pixelColor(639, 479), frame.pixelColor(1119, 839));
}

TEST_F(FrameCopyTest, OddSizesRoundTheOffsetTowardZero)
{
    // 801 x 601: left = 161 / 2 = 80, top = 121 / 2 = 60; rows padded to 4 bytes in the frame.
    const QImage frame = CodedFrame(801, 601);
    ASSERT_NE(frame.bytesPerLine(), 801 * 3);
    EXPECT_EQ(copied(frame), frame.copy(80, 60, 640, 480));
}

TEST_F(FrameCopyTest, SmallFrameIsCentredBetweenGreyStrips)
{
    const QImage frame = CodedFrame(320, 240);
    const QImage live = copied(frame);
    EXPECT_EQ(live.copy(160, 120, 320, 240), frame);
    EXPECT_EQ(live.pixelColor(159, 240), QColor(128, 128, 128));
    EXPECT_EQ(live.pixelColor(480, 240), QColor(128, 128, 128));
    EXPECT_EQ(live.pixelColor(320, 119), QColor(128, 128, 128));
    EXPECT_EQ(live.pixelColor(320, 360), QColor(128, 128, 128));
}

TEST_F(FrameCopyTest, WideButLowFrameKeepsGreyAboveAndBelow)
{
    const QImage frame = CodedFrame(1280, 400);
    const QImage live = copied(frame);
    EXPECT_EQ(live.copy(0, 40, 640, 400), frame.copy(320, 0, 640, 400));
    EXPECT_EQ(live.pixelColor(10, 39), QColor(128, 128, 128));
    EXPECT_EQ(live.pixelColor(10, 440), QColor(128, 128, 128));
}

class LivePictureTest : public CaptureFixture {
protected:
    void expectLiveCrop(const char *format, int width, int height)
    {
        graph->actPreviewExecute();
        ASSERT_EQ(graph->captureSize(), QSize(width, height));
        ASSERT_TRUE(waitForFrames(2));
        const QImage expected = ReferenceFrame("colors", format, width, height);
        ASSERT_FALSE(expected.isNull());
        EXPECT_EQ(livePicture(), expected.copy((width - 640) / 2, (height - 480) / 2, 640, 480));
    }
};

TEST_F(LivePictureTest, PipelineDelivers640x480FramesWhole)
{
    declareCameras("BGR 640x480/pattern=colors/speed=0");
    expectLiveCrop("BGR", 640, 480);
}

TEST_F(LivePictureTest, PipelineShowsTheCentreOf1280x720)
{
    declareCameras("BGR 1280x720/pattern=colors/speed=0");
    expectLiveCrop("BGR", 1280, 720);
}

TEST_F(LivePictureTest, PipelineShowsTheCentreOf1600x1200FromYuy2)
{
    declareCameras("YUY2 1600x1200/pattern=colors/speed=0");
    expectLiveCrop("YUY2", 1600, 1200);
}

TEST_F(LivePictureTest, MjpegFramesAreDecodedBeforeTheLivePicture)
{
    declareCameras("MJPG 1280x720/pattern=white/speed=0");
    graph->actPreviewExecute();
    ASSERT_TRUE(waitForFrames(2));
    const QColor centre = livePicture().pixelColor(320, 240);
    // White through JPEG's studio-range YUV comes back a shade lower.
    EXPECT_GE(centre.red(), 225);
    EXPECT_GE(centre.green(), 225);
    EXPECT_GE(centre.blue(), 225);
}

TEST_F(LivePictureTest, ViewPaintsTheLivePicture1To1)
{
    declareCameras("BGR 640x480/pattern=colors/speed=0");
    graph->actPreviewExecute();
    ASSERT_TRUE(waitForFrames(2));
    const QImage painted = Imagemovie->grab().toImage().convertToFormat(QImage::Format_BGR888);
    EXPECT_EQ(painted, livePicture());
}

TEST_F(LivePictureTest, LeftClickFreezesAndRightClickResumes)
{
    declareCameras("640x480");
    graph->actPreviewExecute();
    ASSERT_TRUE(waitForFrames(1));

    QTest::mouseClick(Imagemovie, Qt::LeftButton);
    EXPECT_EQ(graph->rememberedGraphState(), GraphState::Running);
    EXPECT_EQ(graph->graphState(), GraphState::Paused);
    // Nothing arrives while frozen; the picture keeps the last frame.
    waitUntil([] { return false; }, 100);
    const quint64 frozenAt = graph->livePicture().framesShown();
    const QImage frozen = livePicture();
    waitUntil([] { return false; }, 300);
    EXPECT_EQ(graph->livePicture().framesShown(), frozenAt);
    EXPECT_EQ(livePicture(), frozen);

    QTest::mouseClick(Imagemovie, Qt::LeftButton);
    EXPECT_EQ(graph->rememberedGraphState(), GraphState::Paused);
    EXPECT_EQ(graph->graphState(), GraphState::Paused);

    QTest::mouseClick(Imagemovie, Qt::RightButton);
    EXPECT_EQ(graph->graphState(), GraphState::Running);
    EXPECT_TRUE(waitForFrames(2));

    // A right click on a running picture changes nothing.
    QTest::mouseClick(Imagemovie, Qt::RightButton);
    EXPECT_EQ(graph->graphState(), GraphState::Running);
}

TEST_F(LivePictureTest, RightClickOnAStoppedPreviewStartsItAfresh)
{
    declareCameras("Left:640x480;Right:800x600");
    graph->actPreviewExecute();
    graph->actStopExecute();
    writeConfig(QStringLiteral("camindex"), QStringLiteral("1"));
    QTest::mouseClick(Imagemovie, Qt::RightButton);
    EXPECT_EQ(graph->graphState(), GraphState::Running);
    EXPECT_EQ(graph->deviceName(), QStringLiteral("Right"));
}

TEST_F(LivePictureTest, DoubleClickReportsItsFirstClickButNotItsSecond)
{
    QSignalSpy clicks(Imagemovie, &LivePictureView::clicked);
    QSignalSpy doubles(Imagemovie, &LivePictureView::doubleClicked);
    QSignalSpy releases(Imagemovie, &LivePictureView::mouseReleased);
    const QPointF at(100, 100);
    auto send = [&](QEvent::Type type, Qt::MouseButton button) {
        QMouseEvent event(type, at, Imagemovie->mapToGlobal(at), button,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : button, Qt::NoModifier);
        QCoreApplication::sendEvent(Imagemovie, &event);
    };
    // The sequence a double-click produces: press, release, second press as double-click, release.
    send(QEvent::MouseButtonPress, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, Qt::LeftButton);
    send(QEvent::MouseButtonDblClick, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, Qt::LeftButton);
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_EQ(doubles.count(), 1);
    send(QEvent::MouseButtonPress, Qt::RightButton);
    send(QEvent::MouseButtonRelease, Qt::RightButton);
    EXPECT_EQ(clicks.count(), 1);
    ASSERT_EQ(releases.count(), 3);
    EXPECT_EQ(releases.last().at(0).value<Qt::MouseButton>(), Qt::RightButton);
}

// Frames pour in from a streaming thread while the window thread paints and copies the
// picture: every frame is either shown whole or dropped, never torn, and nobody waits.
TEST_F(LivePictureTest, FramesArrivingWhileTheWindowPaintsAndCopiesAreNeverTorn)
{
    std::atomic<bool> stop{false};
    std::atomic<int> sent{0};
    std::thread streaming([&] {
        GstCaps *caps = gst_caps_from_string("video/x-raw,format=BGR,width=640,height=480,framerate=30/1");
        const gsize rowBytes = 640 * 3;
        for (int n = 0; !stop.load(); ++n) {
            GstBuffer *buffer = gst_buffer_new_allocate(nullptr, rowBytes * 480, nullptr);
            gst_buffer_memset(buffer, 0, uchar(n % 2 ? 10 : 240), rowBytes * 480);
            GstSample *sample = gst_sample_new(buffer, caps, nullptr, nullptr);
            graph->SampleGrabberBuffer(sample);
            gst_sample_unref(sample);
            gst_buffer_unref(buffer);
            sent.fetch_add(1);
        }
        gst_caps_unref(caps);
    });
    int torn = 0;
    for (int i = 0; i < 200; ++i) {
        const QImage copy = livePicture();
        const uchar first = copy.constBits()[0];
        const uchar last = copy.constScanLine(479)[639 * 3 + 2];
        if (first != last && first != 128)
            ++torn;
        Imagemovie->repaint();
        QCoreApplication::processEvents();
    }
    stop = true;
    streaming.join();
    EXPECT_EQ(torn, 0);
    EXPECT_GT(graph->livePicture().framesShown(), 0u);
    EXPECT_LE(graph->livePicture().framesShown(), quint64(sent.load()));
}
