#include "imaging/ProcessPanel.h"

#include "MouseDrag.h"
#include "TestHome.h"
#include "core/IniFile.h"
#include "imaging/ImageControl.h"
#include "imaging/OverlayDrag.h"
#include "imaging/untProcess.h"

#include <QPushButton>

#include <gtest/gtest.h>

namespace {

QImage filled(int width, int height, QColor colour)
{
    QImage image(width, height, QImage::Format_BGR888);
    image.fill(colour);
    return image;
}

class ProcessPanelTest : public ::testing::Test {
protected:
    ProcessPanelTest()
    {
        settings.setPath(home.file(QStringLiteral("system.ini")));
        panel->resetLayers();
        container->hide();
        ProcessPanelHooks hooks;
        hooks.keepPicture = [this](int slot, const QImage &picture) { kept.append({slot, picture}); };
        hooks.reloadedRealHeight = [this] { return rh; };
        hooks.slotMeasurements = [this](int) { return earlier; };
        hooks.keepMeasurements = [this](int slot, const Measurements &lines) { keptLines = {slot, lines}; };
        operations = std::make_unique<ProcessPanel>(panel, container, settings, hooks);
    }

    void open(int slot, const QImage &picture, QSize captureSize = QSize(640, 480))
    {
        operations->imgPic1DblClick(slot, picture, captureSize);
    }

    void setMeasuring(bool on)
    {
        panel->btnMline->setChecked(!on);
        panel->btnMline->click();
    }

    TestHome home;
    IniFile settings;
    QWidget window;
    QWidget *container = new QWidget(&window);
    TfrmProcess *panel = new TfrmProcess(container);
    std::unique_ptr<ProcessPanel> operations;
    QList<QPair<int, QImage>> kept;
    Measurements earlier;
    QPair<int, Measurements> keptLines;
    double rh = 0;
};

TEST_F(ProcessPanelTest, OpeningShowsACopyOfTheSlotPictureAtItsNaturalSize)
{
    const QImage picture = filled(640, 480, Qt::darkCyan);
    open(3, picture);
    EXPECT_FALSE(container->isHidden());
    EXPECT_EQ(panel->imgBack->picture(), picture);
    EXPECT_EQ(panel->imgBack->tag(), 3);
    EXPECT_EQ(panel->imgBack->geometry(), QRect(1, 1, 640, 480));
    EXPECT_EQ(panel->imageFront->geometry(), QRect(1, 1, 640, 480));
    EXPECT_EQ(panel->imageFront->picture().size(), QSize(640, 480));
    EXPECT_TRUE(MouseDrag::allWhite(panel->imageFront->picture()));
}

TEST_F(ProcessPanelTest, AnEmptySlotChangesNothing)
{
    open(1, QImage());
    EXPECT_TRUE(container->isHidden());

    const QImage first = filled(640, 480, Qt::red);
    open(1, first);
    open(2, QImage());
    EXPECT_EQ(panel->imgBack->picture(), first);
    EXPECT_EQ(panel->imgBack->tag(), 1);
}

TEST_F(ProcessPanelTest, TurningKeepsThePictureCentredAndTheOverlayOnIt)
{
    open(1, filled(640, 480, Qt::blue));
    panel->btnTurnRight->click();
    EXPECT_EQ(panel->imgBack->geometry(), QRect(80, -80, 480, 640));
    EXPECT_EQ(panel->imageFront->geometry(), QRect(80, -80, 480, 640));
    EXPECT_EQ(panel->imageFront->picture().size(), QSize(480, 640));
    panel->btnTurnLeft->click();
    EXPECT_EQ(panel->imgBack->geometry(), QRect(1, 1, 640, 480));
    EXPECT_EQ(panel->imageFront->geometry(), QRect(1, 1, 640, 480));

    open(1, filled(300, 300, Qt::blue));
    EXPECT_EQ(panel->imgBack->geometry(), QRect(0, 0, 300, 300));
}

TEST_F(ProcessPanelTest, TurningLeftTurnsCounterClockwise)
{
    QImage picture = filled(4, 2, Qt::black);
    picture.setPixelColor(3, 0, Qt::red); // top right
    open(1, picture);
    panel->btnTurnLeft->click();
    ASSERT_EQ(panel->imgBack->picture().size(), QSize(2, 4));
    EXPECT_EQ(panel->imgBack->picture().pixelColor(0, 0), QColor(Qt::red));
}

TEST_F(ProcessPanelTest, GoingBackDropsTheWorkAndKeepingStoresItInItsOwnSlot)
{
    open(2, filled(640, 480, QColor(200, 40, 10)));
    panel->btnGray->click();
    const QColor grey = panel->imgBack->picture().pixelColor(5, 5);
    EXPECT_EQ(grey.red(), grey.green());
    EXPECT_EQ(grey.green(), grey.blue());
    panel->btnBack->click();
    EXPECT_TRUE(container->isHidden());
    EXPECT_TRUE(kept.isEmpty());

    open(2, filled(640, 480, QColor(200, 40, 10)));
    panel->btnGray->click();
    panel->btnTurnRight->click();
    panel->btnSave->click();
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(kept[0].first, 2);
    EXPECT_EQ(kept[0].second.size(), QSize(480, 640));
    EXPECT_EQ(kept[0].second.pixelColor(5, 5), grey);
    EXPECT_TRUE(container->isHidden());
}

TEST_F(ProcessPanelTest, DoubleClickOnTheOverlayKeepsWithoutDrawing)
{
    const QImage picture = filled(640, 480, Qt::black);
    open(4, picture);
    setMeasuring(true);
    ASSERT_TRUE(panel->btnMline->isChecked());
    const QPoint at(50, 50);
    MouseDrag::send(panel->imageFront, QEvent::MouseButtonPress, at, Qt::LeftButton);
    MouseDrag::send(panel->imageFront, QEvent::MouseButtonRelease, at, Qt::LeftButton);
    MouseDrag::send(panel->imageFront, QEvent::MouseButtonDblClick, at, Qt::LeftButton);
    MouseDrag::send(panel->imageFront, QEvent::MouseButtonRelease, at, Qt::LeftButton);
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(kept[0].first, 4);
    EXPECT_EQ(kept[0].second, picture);
    EXPECT_TRUE(container->isHidden());
    EXPECT_FALSE(panel->btnMline->isChecked());
}

TEST_F(ProcessPanelTest, AfterClosingTheNextOpenHasMeasuringOff)
{
    open(1, filled(640, 480, Qt::black));
    setMeasuring(true);
    panel->btnBack->click();
    open(1, filled(640, 480, Qt::black));
    EXPECT_FALSE(panel->btnMline->isChecked());
    EXPECT_FALSE(operations->measuring());
}

class PanelMeasuringTest : public ProcessPanelTest { };

TEST_F(PanelMeasuringTest, WithoutCalibrationA200PixelLineIs20mm)
{
    open(1, filled(640, 480, Qt::black));
    EXPECT_DOUBLE_EQ(operations->panelScale(), 0.1);
    setMeasuring(true);
    MouseDrag::drag(panel->imageFront, QPoint(10, 100), QPoint(210, 100));

    const QImage &picture = panel->imgBack->picture();
    EXPECT_EQ(picture.pixelColor(110, 100), QColor(Qt::white));
    EXPECT_EQ(picture.pixelColor(110, 90), QColor(Qt::black));
    // The label stands below and right of the end point.
    bool labelled = false;
    for (int y = 100; y < 120 && !labelled; ++y)
        for (int x = 212; x < 260 && !labelled; ++x)
            labelled = picture.pixelColor(x, y) != QColor(Qt::black);
    EXPECT_TRUE(labelled);
    EXPECT_TRUE(MouseDrag::allWhite(panel->imageFront->picture()));
    EXPECT_EQ(ProcessPanel::lengthLabel(200, operations->panelScale()), QStringLiteral("20mm"));
}

// Every line is kept as data on the picture's pixels, the earlier ones turning with the picture.
TEST_F(PanelMeasuringTest, KeptLinesFollowThePictureAndCarryTheirCalibration)
{
    settings.writeString(QStringLiteral("measure"), QStringLiteral("ratio"), QStringLiteral("0.05"));
    earlier = {{.slot = 2, .start = {0, 0}, .end = {0, 100}, .lengthMm = 5}};
    open(2, filled(640, 480, Qt::black));
    setMeasuring(true);
    MouseDrag::drag(panel->imageFront, QPoint(10, 100), QPoint(210, 100));
    panel->btnTurnRight->click();
    panel->btnSave->click();

    ASSERT_EQ(keptLines.first, 2);
    const Measurements &lines = keptLines.second;
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0].start, QPoint(479, 0));
    EXPECT_EQ(lines[0].end, QPoint(379, 0));
    const Measurement &drawn = lines[1];
    EXPECT_EQ(drawn.slot, 2);
    EXPECT_EQ(drawn.start, QPoint(379, 10));
    EXPECT_EQ(drawn.end, QPoint(379, 210));
    EXPECT_EQ(kept.first().second.pixelColor(379, 110), QColor(Qt::white));
    EXPECT_DOUBLE_EQ(drawn.lengthMm, 10);
    EXPECT_DOUBLE_EQ(drawn.mmPerPixel, 0.05);
    EXPECT_DOUBLE_EQ(drawn.calibrationRatio, 0.05);
    EXPECT_EQ(drawn.calibrationHeight, 480);
    EXPECT_EQ(drawn.method, Measurement::kKnownLength);
}

TEST_F(PanelMeasuringTest, LabelsRoundToFourDecimals)
{
    EXPECT_EQ(ProcessPanel::lengthLabel(OverlayDrag::distance({0, 0}, {5, 5}), 0.1), QStringLiteral("0.7071mm"));
    EXPECT_EQ(ProcessPanel::lengthLabel(123.456789, 0.1), QStringLiteral("12.3457mm"));
    EXPECT_EQ(ProcessPanel::lengthLabel(5, 0.1), QStringLiteral("0.5mm"));
    EXPECT_EQ(ProcessPanel::lengthLabel(50, 0.1), QStringLiteral("5mm"));
}

TEST_F(PanelMeasuringTest, ShortDragsAndDragsOutsideMeasuringDrawNothing)
{
    const QImage picture = filled(640, 480, Qt::black);
    open(1, picture);
    MouseDrag::drag(panel->imageFront, QPoint(10, 10), QPoint(200, 10));
    EXPECT_EQ(panel->imgBack->picture(), picture);
    EXPECT_TRUE(MouseDrag::allWhite(panel->imageFront->picture()));

    setMeasuring(true);
    MouseDrag::drag(panel->imageFront, QPoint(10, 10), QPoint(14, 13));
    EXPECT_EQ(panel->imgBack->picture(), picture);
    // The short drag's rubber band stays until the overlay is next cleared.
    EXPECT_FALSE(MouseDrag::allWhite(panel->imageFront->picture()));
}

TEST_F(PanelMeasuringTest, TheRubberBandErasesItsPreviousLine)
{
    open(1, filled(640, 480, Qt::black));
    setMeasuring(true);
    ImageControl *overlay = panel->imageFront;
    MouseDrag::send(overlay, QEvent::MouseButtonPress, QPoint(10, 10), Qt::LeftButton);
    MouseDrag::send(overlay, QEvent::MouseMove, QPoint(100, 10), Qt::NoButton);
    EXPECT_EQ(overlay->picture().pixelColor(50, 10), QColor(Qt::black));
    MouseDrag::send(overlay, QEvent::MouseMove, QPoint(10, 100), Qt::NoButton);
    EXPECT_EQ(overlay->picture().pixelColor(50, 10), QColor(Qt::white));
    EXPECT_EQ(overlay->picture().pixelColor(10, 50), QColor(Qt::black));
}

TEST_F(PanelMeasuringTest, APictureWithoutScaleRefusesMeasuring)
{
    open(1, filled(640, 480, Qt::black), QSize(0, 0));
    EXPECT_EQ(operations->panelScale(), 0);
    setMeasuring(true);
    EXPECT_FALSE(panel->btnMline->isChecked());

    settings.writeFloat(QStringLiteral("measure"), QStringLiteral("ratio"), 0);
    open(1, filled(640, 480, Qt::black), QSize(640, 480));
    setMeasuring(true);
    EXPECT_FALSE(panel->btnMline->isChecked());
}

TEST_F(PanelMeasuringTest, OpeningAPictureThatCannotBeMeasuredEndsMeasuring)
{
    open(1, filled(640, 480, Qt::black));
    setMeasuring(true);
    open(2, filled(640, 480, Qt::black), QSize(640, 480));
    EXPECT_TRUE(panel->btnMline->isChecked());
    open(3, filled(640, 480, Qt::black), QSize(0, 0));
    EXPECT_FALSE(panel->btnMline->isChecked());
}

TEST_F(PanelMeasuringTest, ScaleFollowsCaptureHeightAndStoredCalibration)
{
    settings.writeFloat(QStringLiteral("measure"), QStringLiteral("ratio"), 0.1);
    settings.writeFloat(QStringLiteral("measure"), QStringLiteral("height"), 480);
    EXPECT_DOUBLE_EQ(operations->ComputePanelScale(QSize(1280, 960)), 0.05);

    // Reloaded pictures (width 0) use the record's real height when usenew is off.
    settings.writeFloat(QStringLiteral("measure"), QStringLiteral("ratio"), 0.3);
    settings.writeString(QStringLiteral("measure"), QStringLiteral("usenew"), QStringLiteral("0"));
    rh = 48;
    EXPECT_DOUBLE_EQ(operations->ComputePanelScale(QSize(0, 480)), 0.1);
    EXPECT_DOUBLE_EQ(operations->ComputePanelScale(QSize(640, 480)), 0.3);
    settings.writeString(QStringLiteral("measure"), QStringLiteral("usenew"), QStringLiteral("1"));
    EXPECT_DOUBLE_EQ(operations->ComputePanelScale(QSize(0, 480)), 0.3);
}

TEST_F(PanelMeasuringTest, UnreadableCalibrationGivesTheDefaults)
{
    home.write(QStringLiteral("system.ini"), "[measure]\nratio=abc\nheight=4x\nusenew=yes\n");
    IniFile fresh;
    fresh.setPath(home.file(QStringLiteral("system.ini")));
    ProcessPanel other(panel, container, fresh, {});
    EXPECT_DOUBLE_EQ(other.ComputePanelScale(QSize(0, 480)), 0.1);
}

} // namespace
