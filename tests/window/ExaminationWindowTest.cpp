// One whole examination on the real window with the synthetic camera: look the patient up,
// freeze snapshots into the slots, empty one through the context menu, fill the lines, save,
// and read back what landed in the database, the images folder and system.ini.
#include "WindowFixture.h"
#include "capture/CaptureGraph.h"
#include "capture/LivePicture.h"
#include "capture/LivePictureView.h"
#include "capture/SyntheticCamera.h"
#include "exam/PictureSlots.h"
#include "imaging/ImageControl.h"
#include "imaging/JpegFile.h"
#include "imaging/untProcess.h"
#include "report/ReportPreview.h"
#include "ui/LanguageTexts.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSqlRecord>

namespace {

class ExaminationWindow : public WindowTest {
protected:
    void SetUp() override
    {
        qputenv("EXAMSTATION_SYNTHETIC_CAMERA", "1");
        WindowTest::SetUp();
        ASSERT_TRUE(QTest::qWaitFor([this] { return window->capture().livePicture().framesShown() > 2; }, 20000))
            << "the synthetic camera delivered no frames";
    }

    void TearDown() override { qunsetenv("EXAMSTATION_SYNTHETIC_CAMERA"); }

    // A double-click on the live picture, as the operator freezes a frame into a slot.
    void snapshot()
    {
        const QPoint centre = window->Imagemovie->rect().center();
        QTest::mouseDClick(window->Imagemovie, Qt::LeftButton, {}, centre);
        QCoreApplication::processEvents();
    }

    void type(QWidget *field, const QString &text)
    {
        field->setFocus();
        QTest::keyClicks(field, text);
    }

    PictureSlots &sheetSlots() { return window->pictureSlots(); }

    static bool isBaselineJpeg(const QByteArray &data)
    {
        return data.startsWith("\xFF\xD8") && data.contains(QByteArray("\xFF\xC0", 2))
            && !data.contains(QByteArray("\xFF\xC2", 2));
    }
};

TEST_F(ExaminationWindow, aWholeExaminationIsStoredAndComesBackOnTheSheet)
{
    addPatient(QStringLiteral("10001"), QStringLiteral("Ann Lee"), QStringLiteral("5550101"));

    // Look-up: the known number fills the patient fields.
    type(window->edtNumber, QStringLiteral("10001"));
    ASSERT_EQ(window->edtName->text(), QStringLiteral("Ann Lee"));

    // Four snapshots fill slots 1 to 4 in turn.
    for (int shot = 1; shot <= 4; ++shot) {
        snapshot();
        ASSERT_FALSE(sheetSlots().picture(shot).isNull()) << "slot " << shot;
    }
    const QString firstOfSlot3 = sheetSlots().fileName(3);
    // A selected slot takes the next snapshot again, under a new name.
    QTest::mouseClick(window->imgPic[2], Qt::LeftButton);
    snapshot();
    EXPECT_NE(sheetSlots().fileName(3), firstOfSlot3);
    EXPECT_FALSE(sheetSlots().fileName(3).isEmpty());
    // The context menu's "删除" empties the right-clicked slot.
    QTest::mousePress(window->imgPic[1], Qt::RightButton);
    QTest::mouseRelease(window->imgPic[1], Qt::RightButton);
    if (QMenu *menu = window->popImgMenu; menu->isVisible())
        menu->close();
    window->actDelPic->trigger();
    EXPECT_TRUE(sheetSlots().picture(2).isNull());
    EXPECT_TRUE(sheetSlots().fileName(2).isEmpty());

    const QString names[4] = {sheetSlots().fileName(1), QString(), sheetSlots().fileName(3), sheetSlots().fileName(4)};

    type(window->mmSymp5, QStringLiteral("  Mild redness of the antrum  "));
    type(window->symptomLines[0]->lineEdit(), QStringLiteral("Gastritis"));
    type(window->treatLines[0]->lineEdit(), QStringLiteral("Rest"));
    type(window->cbTitle->lineEdit(), QStringLiteral("Gastroscopy"));
    type(window->edtDoctor, QStringLiteral("Dr. Wu"));

    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    QTest::mouseClick(window->btnGenReport, Qt::LeftButton);
    const QDateTime after = QDateTime::currentDateTime().addSecs(1);
    ASSERT_FALSE(dialogs.boxes().isEmpty());
    EXPECT_EQ(dialogs.boxes().last().kind, Dialogs::Kind::Information);
    EXPECT_EQ(dialogs.boxes().last().text, window->language().message(QStringLiteral("Msg_Submit_Success")));

    // The database row, column by column.
    QSqlQuery row(db().connection());
    ASSERT_TRUE(row.exec(QStringLiteral("select * from t_contents where client_id = '10001'")));
    ASSERT_TRUE(row.next());
    const QSqlRecord stored = row.record();
    auto column = [&](const char *name) { return stored.value(QLatin1String(name)); };
    EXPECT_EQ(column("pic1").toString(), names[0]);
    EXPECT_EQ(column("pic2").toString(), QString());
    EXPECT_EQ(column("pic3").toString(), names[2]);
    EXPECT_EQ(column("pic4").toString(), names[3]);
    // Every slot was frozen from the 640 x 480 format; emptying slot 2 kept its capture size.
    for (const char *height : {"picY1", "picY2", "picY3", "picY4"})
        EXPECT_EQ(column(height).toInt(), 480) << height;
    EXPECT_DOUBLE_EQ(column("rh").toDouble(), 480 * 0.1);
    EXPECT_TRUE(column("has_treat").toBool());
    EXPECT_EQ(column("symptom5").toString(), QStringLiteral("Mild redness of the antrum"));
    EXPECT_EQ(column("symptom1").toString(), QStringLiteral("Gastritis"));
    EXPECT_EQ(column("treat1").toString(), QStringLiteral("Rest"));
    EXPECT_EQ(column("title").toString(), QStringLiteral("Gastroscopy"));
    EXPECT_EQ(column("doctor").toString(), QStringLiteral("Dr. Wu"));
    const QDateTime printed =
        QDateTime::fromString(column("printtime").toString(), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    ASSERT_TRUE(printed.isValid()) << column("printtime").toString().toStdString();
    EXPECT_GE(printed, before);
    EXPECT_LE(printed, after);
    EXPECT_FALSE(row.next()) << "one save, one record";

    // The pictures in images/: baseline JPEG files of the full live picture.
    for (const QString &name : names) {
        if (name.isEmpty())
            continue;
        QFile file(window->imagesFolder() + name);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
        const QByteArray data = file.readAll();
        EXPECT_TRUE(isBaselineJpeg(data)) << name.toStdString();
        EXPECT_EQ(JpegFile::decode(data).size(), QSize(640, 480));
    }
    EXPECT_FALSE(QFile::exists(window->imagesFolder() + firstOfSlot3)) << "a replaced snapshot is never saved";

    // The new phrases are remembered.
    const QByteArray settings = home.read(QStringLiteral("system.ini"));
    EXPECT_TRUE(settings.contains("[Symptom]\r\n1=Gastritis"));
    EXPECT_TRUE(settings.contains("[Treatment]\r\n1=Rest"));

    // "+" empties the sheet; the number brings the examination back.
    QTest::mouseClick(window->btnNew, Qt::LeftButton);
    EXPECT_TRUE(window->mmSymp5->toPlainText().isEmpty());
    EXPECT_TRUE(sheetSlots().picture(1).isNull());
    type(window->edtNumber, QStringLiteral("10001"));
    EXPECT_EQ(window->mmSymp5->toPlainText(), QStringLiteral("Mild redness of the antrum"));
    EXPECT_EQ(window->symptomLines[0]->currentText(), QStringLiteral("Gastritis"));
    EXPECT_EQ(window->treatLines[0]->currentText(), QStringLiteral("Rest"));
    EXPECT_TRUE(window->ckbHaveTreat->isChecked());
    for (int slot : {1, 3, 4}) {
        EXPECT_EQ(sheetSlots().fileName(slot), names[slot - 1]);
        EXPECT_EQ(sheetSlots().picture(slot).size(), QSize(640, 480));
    }
    EXPECT_TRUE(sheetSlots().picture(2).isNull());
}

TEST_F(ExaminationWindow, theCamerasSnapshotButtonFreezesIntoTheNextSlot)
{
    ASSERT_TRUE(window->capture().hasStillOutput());
    const QString camera = window->capture().deviceName();
    ASSERT_TRUE(SyntheticCamera::pressStillButton(camera));
    ASSERT_TRUE(QTest::qWaitFor([this] { return !sheetSlots().picture(1).isNull(); }, 5000));
    EXPECT_TRUE(sheetSlots().picture(2).isNull());
    EXPECT_EQ(sheetSlots().captureSize(1), QSize(640, 480));
}

} // namespace

namespace {

TEST_F(ExaminationWindow, aDoubleClickedSnapshotOpensInTheProcessingPanelAndGreyingItIsKept)
{
    snapshot();
    ASSERT_FALSE(sheetSlots().picture(1).isNull());
    QTest::mouseDClick(window->imgPic[0], Qt::LeftButton);
    ASSERT_TRUE(window->plProcessContainter->isVisible());
    EXPECT_EQ(window->frmProcess->imgBack->picture().size(), QSize(640, 480));

    QTest::mouseClick(window->frmProcess->btnGray, Qt::LeftButton);
    QTest::mouseDClick(window->frmProcess->imageFront, Qt::LeftButton);
    const QImage kept = sheetSlots().picture(1);
    const QRgb pixel = kept.pixel(320, 240);
    EXPECT_EQ(qRed(pixel), qGreen(pixel));
    EXPECT_EQ(qGreen(pixel), qBlue(pixel));
    EXPECT_FALSE(sheetSlots().fileName(1).isEmpty()) << "keeping changes the picture only";

    QTest::mouseClick(window->frmProcess->btnBack, Qt::LeftButton);
    EXPECT_FALSE(window->plProcessContainter->isVisible());
}

// A line measured in the panel is kept with the slot's picture; going back drops a new one.
TEST_F(ExaminationWindow, aLineMeasuredInThePanelIsKeptWithItsSlotUnlessThePanelGoesBack)
{
    snapshot();
    TfrmProcess *panel = window->frmProcess;
    for (QPushButton *leave : {panel->btnSave, panel->btnBack}) {
        QTest::mouseDClick(window->imgPic[0], Qt::LeftButton);
        QTest::mouseClick(panel->btnMline, Qt::LeftButton);
        QTest::mousePress(panel->imageFront, Qt::LeftButton, {}, QPoint(10, 100));
        QTest::mouseRelease(panel->imageFront, Qt::LeftButton, {}, QPoint(210, 100));
        QTest::mouseClick(leave, Qt::LeftButton);
    }
    const Measurements kept = sheetSlots().measurements(1);
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(kept[0].end, QPoint(210, 100));
    EXPECT_GT(kept[0].lengthMm, 0);
}

} // namespace

namespace {

TEST_F(ExaminationWindow, thePreviewButtonShowsTheLatestRecordOfThePatient)
{
    addPatient(QStringLiteral("10007"), QStringLiteral("Bo Chen"));
    addRecord(QStringLiteral("10007"), QStringLiteral("first"));
    addRecord(QStringLiteral("10007"), QStringLiteral("second"));
    home.installReportTemplate();
    type(window->edtNumber, QStringLiteral("10007"));

    QTest::mouseClick(window->btnPrevReport, Qt::LeftButton);
    EXPECT_TRUE(dialogs.boxes().isEmpty()) << dialogs.texts().join(u'|').toStdString();
    ReportPreview *preview = nullptr;
    for (QWidget *top : QApplication::topLevelWidgets()) {
        if (auto *candidate = qobject_cast<ReportPreview *>(top); candidate && candidate->isVisible())
            preview = candidate;
    }
    ASSERT_NE(preview, nullptr) << "no preview window";
    preview->close();
}

} // namespace
