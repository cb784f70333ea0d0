#include "CaptureFixture.h"
#include "core/AppError.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QScreen>

class CameraChoiceTest : public CaptureFixture {
protected:
    QString chosenWith(const QString &camindex)
    {
        writeConfig(QStringLiteral("camindex"), camindex);
        graph->actPreviewExecute();
        return graph->deviceName();
    }
};

TEST_F(CameraChoiceTest, CamindexPicksTheCameraInEnumerationOrder)
{
    declareCameras("Left:640x480;Right:800x600");
    EXPECT_EQ(chosenWith(QStringLiteral("1")), QStringLiteral("Right"));
    EXPECT_EQ(graph->captureSize(), QSize(800, 600));
    EXPECT_EQ(chosenWith(QStringLiteral("0")), QStringLiteral("Left"));
}

TEST_F(CameraChoiceTest, CamindexBeyondTheLastOrNegativeTakesTheFirst)
{
    declareCameras("Left:640x480;Right:800x600");
    EXPECT_EQ(chosenWith(QStringLiteral("5")), QStringLiteral("Left"));
    EXPECT_EQ(chosenWith(QStringLiteral("-1")), QStringLiteral("Left"));
    EXPECT_TRUE(graph->deviceReady());
}

TEST_F(CameraChoiceTest, CamindexThatIsNoIntegerEndsThePreviewStartWithTheSystemsMessage)
{
    declareCameras("1");
    writeConfig(QStringLiteral("camindex"), QStringLiteral("1a"));
    try {
        graph->actPreviewExecute();
        FAIL() << "no failure";
    } catch (const AppError &error) {
        EXPECT_EQ(error.message(), QStringLiteral("'1a' is not a valid integer value"));
    }
    EXPECT_FALSE(graph->deviceReady());
    EXPECT_EQ(graph->graphState(), GraphState::NotInitialised);
}

TEST_F(CameraChoiceTest, FormatThatIsNoIntegerLeavesTheGraphActiveButNotRunning)
{
    declareCameras("1");
    writeConfig(QStringLiteral("format"), QStringLiteral("2x"));
    try {
        graph->actPreviewExecute();
        FAIL() << "no failure";
    } catch (const AppError &error) {
        EXPECT_EQ(error.message(), QStringLiteral("'2x' is not a valid integer value"));
    }
    EXPECT_TRUE(graph->deviceReady());
    EXPECT_NE(graph->graphState(), GraphState::Running);
}

TEST_F(CameraChoiceTest, NoCameraLeavesTheStartPictureAndNothingRuns)
{
    declareCameras("0");
    graph->actPreviewExecute();
    EXPECT_FALSE(graph->deviceReady());
    EXPECT_EQ(graph->graphState(), GraphState::NotInitialised);
    QImage grey(640, 480, QImage::Format_BGR888);
    grey.fill(QColor(128, 128, 128));
    EXPECT_EQ(livePicture(), grey);
    // A click records "not initialised"; a right click tries again and still finds no camera.
    graph->ImagemovieClick();
    EXPECT_EQ(graph->rememberedGraphState(), GraphState::NotInitialised);
    graph->ImagemovieMouseUp(Qt::RightButton);
    EXPECT_EQ(graph->graphState(), GraphState::NotInitialised);
    graph->btnCameraPropClick();
    EXPECT_TRUE(dialogs.boxes().isEmpty());
}

TEST_F(CameraChoiceTest, RestartWhileRunningRebuildsAndKeepsDelivering)
{
    declareCameras("1");
    graph->actPreviewExecute();
    ASSERT_TRUE(waitForFrames(3));
    graph->actPreviewExecute();
    EXPECT_EQ(graph->graphState(), GraphState::Running);
    EXPECT_TRUE(waitForFrames(3));
    graph->actStopExecute();
    EXPECT_EQ(graph->graphState(), GraphState::NotInitialised);
    // After the stop returns no frame reaction runs any more.
    const quint64 shown = graph->livePicture().framesShown();
    waitUntil([] { return false; }, 200);
    EXPECT_EQ(graph->livePicture().framesShown(), shown);
}

TEST_F(CameraChoiceTest, SettingsDialogShowsTheCamerasControlsAndActsAtOnce)
{
    declareCameras("640x480/pattern=smpte");
    graph->actPreviewExecute();
    QString patternSeen;
    dialogs.onDialog([&](QDialog &dialog) {
        auto *pattern = dialog.findChild<QComboBox *>(QStringLiteral("Pattern"));
        auto *speed = dialog.findChild<QSlider *>(QStringLiteral("Horizontal speed"));
        auto *flip = dialog.findChild<QCheckBox *>(QStringLiteral("Flip colours"));
        EXPECT_TRUE(speed && flip);
        // Shown in the screen's top-left corner, not centred over the window.
        dialog.show();
        EXPECT_EQ(dialog.frameGeometry().topLeft(), dialog.screen()->geometry().topLeft());
        dialog.hide();
        if (!pattern)
            return int(QDialog::Rejected);
        patternSeen = pattern->currentText();
        pattern->setCurrentIndex(pattern->findText(QStringLiteral("black")));
        return int(QDialog::Rejected);
    });
    graph->btnCameraPropClick();
    EXPECT_EQ(patternSeen, QStringLiteral("smpte"));
    graph->btnCameraPropClick();
    EXPECT_EQ(patternSeen, QStringLiteral("black"));
    // The camera now sends black frames.
    ASSERT_TRUE(waitForFrames(3));
    const QImage picture = livePicture();
    EXPECT_EQ(picture.pixelColor(320, 240), QColor(0, 0, 0));
}
