#include "CaptureFixture.h"
#include "capture/SyntheticCamera.h"

class ReplugTest : public CaptureFixture { };

TEST_F(ReplugTest, PulledCameraShowsNoCameraAndComesBackAtTheStoredSize)
{
    QStringList asked;
    graph->setCaptionLookup([&](const QString &key, const QString &) {
        asked.append(key);
        return key;
    });
    declareCameras("Cam:640x480,1280x720/pattern=colors");
    settings.writeString(QStringLiteral("camera"), QStringLiteral("resolution"), QStringLiteral("1280x720"));
    graph->actPreviewExecute();
    ASSERT_TRUE(waitForFrames(3));

    SyntheticCamera::setPresent(QStringLiteral("Cam"), false);
    ASSERT_TRUE(waitUntil([&] { return graph->cameraLost(); }));
    EXPECT_EQ(graph->graphState(), GraphState::NotInitialised);
    EXPECT_TRUE(asked.contains(QStringLiteral("Msg_no_camera")));
    const QImage lost = livePicture();
    const QRgb background = qRgb(LivePicture::kNoCameraGrey, LivePicture::kNoCameraGrey, LivePicture::kNoCameraGrey);
    EXPECT_EQ(lost.pixel(0, 0), background);
    int textPixels = 0;
    for (int y = 0; y < lost.height(); ++y)
        for (int x = 0; x < lost.width(); ++x)
            textPixels += lost.pixel(x, y) != background;
    EXPECT_GT(textPixels, 100) << "the text is drawn";
    // Nothing restarts while the camera is away, even when the operator asks.
    graph->ImagemovieMouseUp(Qt::RightButton);
    EXPECT_TRUE(graph->cameraLost());
    EXPECT_TRUE(dialogs.boxes().isEmpty());

    SyntheticCamera::setPresent(QStringLiteral("Cam"), true);
    ASSERT_TRUE(waitUntil([&] { return graph->graphState() == GraphState::Running; }));
    EXPECT_FALSE(graph->cameraLost());
    EXPECT_EQ(graph->captureSize(), QSize(1280, 720));
    ASSERT_TRUE(waitForFrames(3));
    EXPECT_NE(livePicture().pixel(0, 0), background);
    EXPECT_TRUE(dialogs.boxes().isEmpty());
}
