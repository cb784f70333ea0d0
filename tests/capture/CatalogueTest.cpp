#include "CaptureFixture.h"
#include "capture/untmmStringlist.h"

TEST(TmmStringlistTest, KeepsEntriesSortedByAreaAndRefusesEqualAreas)
{
    TmmStringlist list;
    EXPECT_TRUE(list.add(QStringLiteral("921600_1280x720_2")));
    EXPECT_TRUE(list.add(QStringLiteral("307200_640x480_0")));
    EXPECT_TRUE(list.add(QStringLiteral("1920000_1600x1200_5")));
    // 100000 sorts after 921600 as a number although it sorts before it as text.
    EXPECT_TRUE(list.add(QStringLiteral("10000000_4000x2500_7")));
    EXPECT_FALSE(list.add(QStringLiteral("921600_1280x720_3")));
    EXPECT_EQ(list.entries(),
              QStringList({QStringLiteral("307200_640x480_0"), QStringLiteral("921600_1280x720_2"),
                           QStringLiteral("1920000_1600x1200_5"), QStringLiteral("10000000_4000x2500_7")}));
}

class CatalogueTest : public CaptureFixture { };

TEST_F(CatalogueTest, TwoEncodingsPerSizeGiveOneEntryPerSize)
{
    declareCameras("YUY2 640x480,MJPG 640x480,YUY2 1280x720,MJPG 1280x720");
    graph->actPreviewExecute();
    EXPECT_EQ(graph->catalogue().entries(),
              QStringList({QStringLiteral("307200_640x480_0"), QStringLiteral("921600_1280x720_2")}));
    EXPECT_EQ(TrackBar1->minimum(), 1);
    EXPECT_EQ(TrackBar1->maximum(), 2);
    EXPECT_EQ(graph->mediaTypes().size(), 4);
}

TEST_F(CatalogueTest, SizesNarrowerThan640AreLeftOut)
{
    declareCameras("320x240,640x480,800x600");
    graph->actPreviewExecute();
    EXPECT_EQ(graph->catalogue().entries(),
              QStringList({QStringLiteral("307200_640x480_1"), QStringLiteral("480000_800x600_2")}));
    EXPECT_EQ(TrackBar1->value(), 1);
    EXPECT_EQ(lbResolution->text(), QStringLiteral("640x480"));
    EXPECT_EQ(graph->mediaTypeIndex(), 1);
}

TEST_F(CatalogueTest, EqualAreasKeepTheLowerMediaTypeIndex)
{
    declareCameras("1280x960,960x1280,640x480");
    graph->actPreviewExecute();
    EXPECT_EQ(graph->catalogue().entries(),
              QStringList({QStringLiteral("307200_640x480_2"), QStringLiteral("1228800_1280x960_0")}));
}

TEST_F(CatalogueTest, FirstStartWithoutSystemIniStoresTheDefaultChoice)
{
    declareCameras("YUY2 640x480,YUY2 1280x720");
    ASSERT_FALSE(QFile::exists(home.file(QStringLiteral("system.ini"))));
    graph->actPreviewExecute();
    EXPECT_EQ(graph->captureSize(), QSize(640, 480));
    IniFile reread;
    reread.setPath(home.file(QStringLiteral("system.ini")));
    EXPECT_EQ(reread.readString(QStringLiteral("camera"), QStringLiteral("resolution"), QString()),
              QStringLiteral("640x480"));
}

TEST_F(CatalogueTest, StoredChoiceSelectsItsEntryAndMediaType)
{
    declareCameras("YUY2 640x480,MJPG 640x480,YUY2 1280x720,MJPG 1280x720/pattern=colors/speed=0");
    settings.writeString(QStringLiteral("camera"), QStringLiteral("resolution"), QStringLiteral("1280x720"));
    graph->actPreviewExecute();
    EXPECT_EQ(TrackBar1->value(), 2);
    EXPECT_EQ(graph->mediaTypeIndex(), 2);
    EXPECT_EQ(graph->captureSize(), QSize(1280, 720));
    EXPECT_EQ(lbResolution->text(), QStringLiteral("1280x720"));
    ASSERT_TRUE(waitForFrames(2));
    // The live picture shows the centre of the 1280 x 720 frame, not the whole frame shrunk.
    const QImage expected = ReferenceFrame("colors", "YUY2", 1280, 720).copy(320, 120, 640, 480);
    EXPECT_EQ(livePicture(), expected);
}

TEST_F(CatalogueTest, StoredChoiceMatchingNothingFallsBackToTheSmallestAndIsRewritten)
{
    declareCameras("YUY2 1280x720,YUY2 800x600");
    for (const QString &stored : {QStringLiteral("1920x1080"), QString()}) {
        settings.writeString(QStringLiteral("camera"), QStringLiteral("resolution"), stored);
        graph->actPreviewExecute();
        EXPECT_EQ(TrackBar1->value(), 1);
        EXPECT_EQ(graph->captureSize(), QSize(800, 600));
        EXPECT_EQ(settings.readString(QStringLiteral("camera"), QStringLiteral("resolution"), QString()),
                  QStringLiteral("800x600"));
    }
}

TEST_F(CatalogueTest, MovingTheTrackBarStoresTheSizeAndRestartsAtIt)
{
    declareCameras("YUY2 640x480,MJPG 640x480,YUY2 1280x720,MJPG 1280x720");
    graph->actPreviewExecute();
    ASSERT_EQ(graph->captureSize(), QSize(640, 480));
    ASSERT_TRUE(waitForFrames(1));

    TrackBar1->setValue(2);
    EXPECT_EQ(lbResolution->text(), QStringLiteral("1280x720"));
    EXPECT_EQ(settings.readString(QStringLiteral("camera"), QStringLiteral("resolution"), QString()),
              QStringLiteral("1280x720"));
    EXPECT_EQ(graph->captureSize(), QSize(1280, 720));
    EXPECT_EQ(graph->graphState(), GraphState::Running);
    EXPECT_TRUE(waitForFrames(2));
}

TEST_F(CatalogueTest, ShrinkingCatalogueDuringABuildNeverRestartsThePreview)
{
    // The track bar at 3 of 3 from a camera with three sizes; the next camera has two.
    TrackBar1->setRange(1, 3);
    graph->SetResolutionPosition(3);
    declareCameras("640x480,800x600");
    settings.writeString(QStringLiteral("camera"), QStringLiteral("resolution"), QStringLiteral("800x600"));
    int restartsSeen = 0;
    QObject::connect(TrackBar1, &QSlider::valueChanged, [&] { ++restartsSeen; });
    graph->actPreviewExecute();
    EXPECT_EQ(TrackBar1->maximum(), 2);
    EXPECT_EQ(TrackBar1->value(), 2);
    EXPECT_EQ(graph->captureSize(), QSize(800, 600));
    // The clamp to the new maximum already put the bar on 2, silently: had the operator's
    // reaction seen it, the preview would have restarted inside its own build.
    EXPECT_EQ(restartsSeen, 0);
    EXPECT_EQ(graph->graphState(), GraphState::Running);
}

TEST_F(CatalogueTest, CameraWithoutFrameFormatsKeepsTheTrackBarAndUsesTheConfigIndex)
{
    declareCameras("320x240,BGR 400x300");
    writeConfig(QStringLiteral("format"), QStringLiteral("1"));
    graph->actPreviewExecute();
    EXPECT_TRUE(graph->catalogue().isEmpty());
    EXPECT_EQ(TrackBar1->maximum(), 1);
    EXPECT_EQ(lbResolution->text(), QStringLiteral("640x480"));
    EXPECT_EQ(graph->captureSize(), QSize(400, 300));
    EXPECT_FALSE(QFile::exists(home.file(QStringLiteral("system.ini"))));
}

TEST_F(CatalogueTest, FormatIndexBeyondTheListEndsTheBuildSilently)
{
    declareCameras("320x240");
    writeConfig(QStringLiteral("format"), QStringLiteral("7"));
    graph->actPreviewExecute();
    EXPECT_EQ(graph->captureSize(), QSize(0, 0));
    EXPECT_TRUE(dialogs.boxes().isEmpty());
    EXPECT_FALSE(waitForFrames(1, 500));
}
