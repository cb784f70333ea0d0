#include "imaging/Calibration.h"

#include "MouseDrag.h"
#include "ScriptedDialogs.h"
#include "TestHome.h"
#include "core/AppError.h"
#include "core/IniFile.h"
#include "imaging/ImageControl.h"
#include "imaging/ProcessPanel.h"
#include "imaging/untMeasure.h"
#include "imaging/untProcess.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

#include <gtest/gtest.h>

namespace {

class CalibrationTest : public ::testing::Test {
protected:
    CalibrationTest()
    {
        settings.setPath(home.file(QStringLiteral("system.ini")));
        imageFront->setGeometry(0, 0, 640, 480);
        Imagemovie->setGeometry(0, 0, 640, 480);
        OverlayDragClear();
        btnCalibration->setCheckable(true);

        CalibrationHooks hooks;
        hooks.graphRunning = [this] { return running; };
        hooks.pauseGraph = [this] {
            ++pauses;
            running = false;
        };
        hooks.captureHeight = [this] { return captureHeight; };
        hooks.text = [](const QString &key) {
            return key == QStringLiteral("OK.Caption") ? QStringLiteral("OK") : QString();
        };
        hooks.calibrationFinished = [this] { ++finished; };
        calibration = std::make_unique<Calibration>(
            CalibrationControls{imageFront, Imagemovie, btnCalibration, TrackBar1}, settings, hooks);
    }

    void OverlayDragClear()
    {
        QImage blank(640, 480, QImage::Format_RGB888);
        blank.fill(Qt::white);
        imageFront->setPicture(blank);
        imageFront->setTransparent(true);
    }

    // Answers the calibration dialog with that length, or cancels it when accept is false.
    void answerDialog(const QString &length, bool accept = true)
    {
        dialogs.onDialog([this, length, accept](QDialog &dialog) {
            ++dialogsShown;
            auto *measure = dynamic_cast<TfrmMeasure *>(&dialog);
            if (!measure)
                return int(QDialog::Rejected);
            okCaption = measure->btnOK->text();
            cancelCaption = measure->btnCancel->text();
            overlayHadLine = !MouseDrag::allWhite(imageFront->picture());
            measure->edtRealLength->setText(length);
            return int(accept ? QDialog::Accepted : QDialog::Rejected);
        });
    }

    void calibrate(int pixels)
    {
        btnCalibration->click();
        MouseDrag::drag(imageFront, QPoint(100, 200), QPoint(100 + pixels, 200));
    }

    QString storedValue(const QString &key)
    {
        IniFile fresh;
        fresh.setPath(home.file(QStringLiteral("system.ini")));
        return fresh.readString(QStringLiteral("measure"), key, QStringLiteral("<none>"));
    }

    bool overlayInFront() const
    {
        return plMovie.children().indexOf(imageFront) > plMovie.children().indexOf(Imagemovie);
    }

    TestHome home;
    IniFile settings;
    ScriptedDialogs dialogs;
    QWidget plMovie;
    ImageControl *imageFront = new ImageControl(&plMovie);
    QWidget *Imagemovie = new QWidget(&plMovie);
    QPushButton *btnCalibration = new QPushButton(QStringLiteral("测量校准"), &plMovie);
    QSlider *TrackBar1 = new QSlider(&plMovie);
    std::unique_ptr<Calibration> calibration;
    bool running = true;
    int pauses = 0;
    int captureHeight = 480;
    int finished = 0;
    int dialogsShown = 0;
    bool overlayHadLine = false;
    QString okCaption;
    QString cancelCaption;
};

TEST_F(CalibrationTest, ToggleDownFreezesTheLivePictureAndBringsTheOverlayForward)
{
    ASSERT_FALSE(overlayInFront());
    btnCalibration->click();
    EXPECT_TRUE(overlayInFront());
    EXPECT_EQ(pauses, 1);
    EXPECT_FALSE(TrackBar1->isEnabled());

    btnCalibration->click();
    EXPECT_FALSE(overlayInFront());
    EXPECT_TRUE(TrackBar1->isEnabled());
    EXPECT_EQ(pauses, 1);

    // A graph that is not running is left alone.
    btnCalibration->click();
    EXPECT_EQ(pauses, 1);
}

TEST_F(CalibrationTest, A250PixelLineOf25mmStoresRatioAndHeight)
{
    answerDialog(QStringLiteral("25"));
    calibrate(250);
    EXPECT_EQ(dialogsShown, 1);
    EXPECT_TRUE(overlayHadLine);
    EXPECT_EQ(storedValue(QStringLiteral("ratio")), QStringLiteral("0.1"));
    EXPECT_EQ(storedValue(QStringLiteral("height")), QStringLiteral("480"));
    EXPECT_EQ(finished, 1);
    EXPECT_FALSE(btnCalibration->isChecked());
    EXPECT_FALSE(overlayInFront());
    EXPECT_TRUE(TrackBar1->isEnabled());
    EXPECT_TRUE(MouseDrag::allWhite(imageFront->picture()));
    // Texts come from the language; a missing one keeps the built-in caption.
    EXPECT_EQ(okCaption, QStringLiteral("OK"));
    EXPECT_EQ(cancelCaption, QStringLiteral("取消"));
}

TEST_F(CalibrationTest, TheNewCalibrationScalesTheNextSnapshot)
{
    answerDialog(QStringLiteral("25"));
    calibrate(250);
    QWidget container;
    TfrmProcess panel(&container);
    ProcessPanel operations(&panel, &container, settings, {});
    EXPECT_DOUBLE_EQ(operations.ComputePanelScale(QSize(1280, 960)), 0.05);
}

TEST_F(CalibrationTest, DecimalLengthsAreKeptAndOtherKeysSurvive)
{
    settings.writeString(QStringLiteral("measure"), QStringLiteral("usenew"), QStringLiteral("0"));
    answerDialog(QStringLiteral("12.5"));
    captureHeight = 720;
    calibrate(250);
    EXPECT_EQ(storedValue(QStringLiteral("ratio")), QStringLiteral("0.05"));
    EXPECT_EQ(storedValue(QStringLiteral("height")), QStringLiteral("720"));
    EXPECT_EQ(storedValue(QStringLiteral("usenew")), QStringLiteral("0"));
}

TEST_F(CalibrationTest, AShortLineAsksNothingAndStaysInCalibration)
{
    answerDialog(QStringLiteral("25"));
    calibrate(19);
    EXPECT_EQ(dialogsShown, 0);
    EXPECT_TRUE(btnCalibration->isChecked());
    EXPECT_TRUE(overlayInFront());
    EXPECT_FALSE(TrackBar1->isEnabled());
    EXPECT_EQ(storedValue(QStringLiteral("ratio")), QStringLiteral("<none>"));
}

TEST_F(CalibrationTest, CancelStoresNothingButClearsTheOverlay)
{
    answerDialog(QStringLiteral("25"), false);
    calibrate(250);
    EXPECT_EQ(dialogsShown, 1);
    EXPECT_EQ(storedValue(QStringLiteral("ratio")), QStringLiteral("<none>"));
    EXPECT_EQ(finished, 0);
    EXPECT_FALSE(btnCalibration->isChecked());
    EXPECT_TRUE(MouseDrag::allWhite(imageFront->picture()));
}

TEST_F(CalibrationTest, ADragWithTheToggleUpDoesNothing)
{
    answerDialog(QStringLiteral("25"));
    MouseDrag::drag(imageFront, QPoint(0, 0), QPoint(300, 0));
    EXPECT_EQ(dialogsShown, 0);
}

TEST_F(CalibrationTest, ZeroLengthStoresZeroAndThePanelRefusesToMeasure)
{
    answerDialog(QStringLiteral("0"));
    calibrate(250);
    EXPECT_EQ(storedValue(QStringLiteral("ratio")), QStringLiteral("0"));
    QWidget container;
    TfrmProcess panel(&container);
    ProcessPanel operations(&panel, &container, settings, {});
    EXPECT_EQ(operations.ComputePanelScale(QSize(640, 480)), 0);
}

TEST_F(CalibrationTest, ALengthThatIsNoNumberIsReportedAndStoresNothing)
{
    for (const QString &typed : {QStringLiteral("abc"), QStringLiteral("-5"), QStringLiteral("1e999"), QString()}) {
        SCOPED_TRACE(typed.toStdString());
        dialogs.clear();
        OverlayDragClear();
        answerDialog(typed);
        calibrate(250);
        ASSERT_EQ(dialogs.boxes().size(), 1);
        EXPECT_EQ(dialogs.boxes()[0].kind, Dialogs::Kind::Error);
        EXPECT_TRUE(dialogs.boxes()[0].text.contains(QStringLiteral("is not a valid floating point value")));
        EXPECT_EQ(storedValue(QStringLiteral("ratio")), QStringLiteral("<none>"));
        EXPECT_EQ(finished, 0);
        EXPECT_FALSE(btnCalibration->isChecked());
        // The line stays so the operator sees what was drawn.
        EXPECT_FALSE(MouseDrag::allWhite(imageFront->picture()));
    }
}

TEST(RealLength, ConvertsPlainNumbers)
{
    EXPECT_DOUBLE_EQ(Calibration::realLength(QStringLiteral(" 25 ")), 25);
    EXPECT_DOUBLE_EQ(Calibration::realLength(QStringLiteral("0.5")), 0.5);
    EXPECT_THROW(Calibration::realLength(QStringLiteral("2,5mm")), AppError);
}

} // namespace
