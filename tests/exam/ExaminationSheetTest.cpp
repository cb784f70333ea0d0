#include "PgServer.h"
#include "SheetFixture.h"
#include "core/AppError.h"
#include "imaging/JpegFile.h"
#include "records/DeletionJournal.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTest>

namespace {

// The frame markers of a JPEG stream up to its first scan: 0xC0 for baseline, 0xC2 for
// progressive.
QList<int> frameMarkers(const QByteArray &data)
{
    QList<int> markers;
    qsizetype i = 2; // after SOI
    while (i + 4 <= data.size() && uchar(data[i]) == 0xFF) {
        const int marker = uchar(data[i + 1]);
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC)
            markers.append(marker);
        if (marker == 0xDA)
            break;
        const int length = (uchar(data[i + 2]) << 8) | uchar(data[i + 3]);
        i += 2 + length;
    }
    return markers;
}

} // namespace

// ---- the checks ------------------------------------------------------------------------------

class SaveChecks : public SheetFixture { };

TEST_F(SaveChecks, EmptySheetDrawsANumberThenAsksForThePatientAndTheNextSaveUsesIt)
{
    EXPECT_FALSE(examSheet.btnGenReportClick());
    EXPECT_EQ(patient.edtNumber->text(), "10001");
    EXPECT_EQ(shownKeys, QStringList({"Msg_input_client_info"}));
    ASSERT_EQ(dialogs.boxes().size(), 1);
    EXPECT_EQ(dialogs.boxes().at(0).kind, Dialogs::Kind::Warning);
    EXPECT_EQ(dialogs.boxes().at(0).text, language->message("Msg_input_client_info"));
    EXPECT_EQ(count("t_clients"), 0);

    shownKeys.clear();
    {
        PatientHandlersDetached quiet(lookup);
        patient.edtName->setText("Ann");
    }
    fillSheet();
    EXPECT_TRUE(examSheet.btnGenReportClick());
    EXPECT_EQ(shownKeys, QStringList({"Msg_Submit_Success"}));
    ASSERT_EQ(records().size(), 1);
    EXPECT_EQ(records().at(0).value("client_id").toString(), "10001");
}

TEST_F(SaveChecks, DrawnNumberRunsNoLookUpThatWouldClearTheSheet)
{
    enterPatient(QString(), "Ann");
    fillSheet();
    EXPECT_TRUE(examSheet.btnGenReportClick());
    EXPECT_EQ(patient.edtNumber->text(), "10001");
    EXPECT_EQ(patient.edtName->text(), "Ann");
    EXPECT_EQ(count("t_clients"), 1);
    // The number's reaction is attached again: typing runs the look-up once more.
    typeNumber("nobody");
    EXPECT_EQ(patient.edtName->text(), "");
}

TEST_F(SaveChecks, NumberWithoutNameAsksForThePatient)
{
    enterPatient("10007", "   ");
    fillSheet();
    EXPECT_FALSE(examSheet.btnGenReportClick());
    EXPECT_EQ(shownKeys, QStringList({"Msg_input_client_info"}));
    EXPECT_EQ(count("t_contents"), 0);
}

TEST_F(SaveChecks, FirstFailingCheckEndsTheSave)
{
    enterPatient("  ", "");
    // Diagnosis, header and treatment are all missing too; only the first check speaks.
    controls.edtDoctor->clear();
    EXPECT_FALSE(examSheet.btnGenReportClick());
    EXPECT_EQ(shownKeys, QStringList({"Msg_input_client_info"}));
}

TEST_F(SaveChecks, BlankDiagnosisLinesAskForADiagnosis)
{
    enterPatient("10007", "Ann");
    fillSheet();
    diagnosis(1)->setEditText("  \t");
    diagnosis(3)->setEditText("");
    EXPECT_FALSE(examSheet.btnGenReportClick());
    EXPECT_EQ(shownKeys, QStringList({"Msg_input_Symptom"}));
    EXPECT_EQ(count("t_contents"), 0);
    EXPECT_TRUE(onDisk("Treatment").isEmpty()) << "no phrase is remembered before the checks pass";
}

TEST_F(SaveChecks, TitleAndDoctorBothMissingGiveBothWarningsTitleFirst)
{
    enterPatient("10007", "Ann");
    fillSheet();
    controls.cbTitle->setEditText(" ");
    controls.edtDoctor->setText("");
    EXPECT_FALSE(examSheet.btnGenReportClick());
    EXPECT_EQ(shownKeys, QStringList({"Msg_input_ReportTitle", "Msg_input_doctor"}));
    EXPECT_EQ(dialogs.boxes().size(), 2);
    EXPECT_EQ(count("t_contents"), 0);
}

TEST_F(SaveChecks, DoctorAloneMissing)
{
    enterPatient("10007", "Ann");
    fillSheet();
    controls.edtDoctor->setText("\t");
    EXPECT_FALSE(examSheet.btnGenReportClick());
    EXPECT_EQ(shownKeys, QStringList({"Msg_input_doctor"}));
}

TEST_F(SaveChecks, CheckedTreatmentWithBlankLinesAsksForATreatment)
{
    enterPatient("10007", "Ann");
    fillSheet();
    for (int k = 1; k <= 4; ++k)
        treatment(k)->setEditText(" ");
    EXPECT_FALSE(examSheet.btnGenReportClick());
    EXPECT_EQ(shownKeys, QStringList({"Msg_input_treat"}));
    EXPECT_EQ(count("t_contents"), 0);
    EXPECT_EQ(count("t_clients"), 0);
}

// ---- what a save stores --------------------------------------------------------------------

class SaveStores : public SheetFixture { };

TEST_F(SaveStores, NewPatientAndRecordColumnByColumn)
{
    settings.writeString("measure", "ratio", "0.05");
    settings.writeString("measure", "height", "480");
    enterPatient(" 10020 ", " Ann Lee ", " 女 ", " 42 ", " 555 0101 ", " 1 Main St ");
    fillSheet();
    snapshotInto(1, "20160501142530123.jpg", {1280, 1024});
    snapshotInto(3, " 20160501142531000.jpg ", {800, 600});
    controls.ckbHaveTreat->setChecked(true);
    treatment(2)->setEditText(" rest ");

    const QDateTime before = QDateTime::currentDateTime().addMSecs(-1000);
    ASSERT_TRUE(examSheet.btnGenReportClick());
    const QDateTime after = QDateTime::currentDateTime().addMSecs(1000);

    QSqlQuery client = db.run("select client_id, client_name, sex, age, client_phone, address from t_clients", {});
    ASSERT_TRUE(client.next());
    EXPECT_EQ(client.value(0).toString(), "10020");
    EXPECT_EQ(client.value(1).toString(), "Ann Lee");
    EXPECT_EQ(client.value(2).toString(), "女");
    EXPECT_EQ(client.value(3).toString(), "42");
    EXPECT_EQ(client.value(4).toString(), "555 0101");
    EXPECT_EQ(client.value(5).toString(), "1 Main St");
    EXPECT_FALSE(client.next());

    const QList<QSqlRecord> rows = records();
    ASSERT_EQ(rows.size(), 1);
    const QSqlRecord &r = rows.at(0);
    EXPECT_EQ(r.value("client_id").toString(), "10020");
    const QDateTime printtime = QDateTime::fromString(r.value("printtime").toString(), "yyyy-MM-dd HH:mm:ss");
    ASSERT_TRUE(printtime.isValid()) << r.value("printtime").toString().toStdString();
    EXPECT_LE(before, printtime);
    EXPECT_LE(printtime, after);
    EXPECT_EQ(r.value("doctor").toString(), "Dr. Who");
    EXPECT_EQ(r.value("proposer").toString(), "Dr. Proposer");
    EXPECT_EQ(r.value("title").toString(), "Gastroscopy");
    EXPECT_EQ(r.value("pic1").toString(), "20160501142530123.jpg");
    EXPECT_EQ(r.value("pic2").toString(), "");
    EXPECT_EQ(r.value("pic3").toString(), "20160501142531000.jpg");
    EXPECT_EQ(r.value("pic4").toString(), "");
    EXPECT_EQ(r.value("symptom1").toString(), " gastritis ") << "lines are stored as shown";
    EXPECT_EQ(r.value("symptom2").toString(), "");
    EXPECT_EQ(r.value("symptom3").toString(), "ulcer");
    EXPECT_EQ(r.value("symptom4").toString(), "");
    EXPECT_EQ(r.value("symptom5").toString(), "Findings line one\nline two");
    EXPECT_EQ(r.value("has_treat").toInt(), 1);
    EXPECT_EQ(r.value("treat1").toString(), "");
    EXPECT_EQ(r.value("treat2").toString(), " rest ");
    EXPECT_EQ(r.value("treat3").toString(), "");
    EXPECT_DOUBLE_EQ(r.value("rh").toDouble(), 24.0);
    EXPECT_EQ(r.value("picY1").toInt(), 1024);
    EXPECT_EQ(r.value("picY2").toInt(), 0);
    EXPECT_EQ(r.value("picY3").toInt(), 600);
    EXPECT_EQ(r.value("picY4").toInt(), 0);

    EXPECT_EQ(shownKeys, QStringList({"Msg_Submit_Success"}));
    ASSERT_EQ(dialogs.boxes().size(), 1);
    EXPECT_EQ(dialogs.boxes().at(0).kind, Dialogs::Kind::Information);
}

TEST_F(SaveStores, RealHeightFollowsTheCalibrationAndIgnoresValuesThatAreNoNumbers)
{
    enterPatient("10020", "Ann");
    fillSheet();
    ASSERT_TRUE(examSheet.btnGenReportClick()); // neither key present
    settings.writeString("measure", "ratio", "0.2");
    settings.writeString("measure", "height", "1024");
    ASSERT_TRUE(examSheet.btnGenReportClick());
    settings.writeString("measure", "ratio", "abc");
    settings.writeString("measure", "height", "12px");
    ASSERT_TRUE(examSheet.btnGenReportClick());
    const QList<QSqlRecord> rows = records();
    ASSERT_EQ(rows.size(), 3);
    EXPECT_DOUBLE_EQ(rows.at(0).value("rh").toDouble(), 48.0);
    EXPECT_DOUBLE_EQ(rows.at(1).value("rh").toDouble(), 1024 * 0.2);
    EXPECT_DOUBLE_EQ(rows.at(2).value("rh").toDouble(), 48.0);
}

TEST_F(SaveStores, SameSheetTwiceGivesTwoRecordsAndShowsTheSecond)
{
    enterPatient("10020", "Ann");
    fillSheet();
    snapshotInto(2, "20160501142530123.jpg");
    ASSERT_TRUE(examSheet.btnGenReportClick());
    controls.mmSymp5->setPlainText("second visit");
    ASSERT_TRUE(examSheet.btnGenReportClick());

    const QList<QSqlRecord> rows = records();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(count("t_clients"), 1);
    EXPECT_EQ(rows.at(0).value("symptom5").toString(), "Findings line one\nline two");
    EXPECT_EQ(rows.at(1).value("symptom5").toString(), "second visit");
    EXPECT_EQ(rows.at(1).value("pic2").toString(), "20160501142530123.jpg");
    EXPECT_EQ(controls.mmSymp5->toPlainText(), "second visit");
    EXPECT_EQ(shownKeys, QStringList({"Msg_Submit_Success", "Msg_Submit_Success"}));
}

TEST_F(SaveStores, KnownPatientKeepsTheStoredNameWhenTheSheetShowsAnother)
{
    Statements::insertPatient(db,
                              {.client_id = "10020",
                               .client_name = "Ann",
                               .sex = "女",
                               .age = "42",
                               .client_phone = "555",
                               .address = "Home"});
    typeNumber("10020");
    ASSERT_EQ(patient.edtName->text(), "Ann");
    {
        PatientHandlersDetached quiet(lookup);
        patient.edtName->setText("Anne Changed");
        patient.edtAge->setText("43");
    }
    fillSheet();
    ASSERT_TRUE(examSheet.btnGenReportClick());
    EXPECT_EQ(count("t_clients"), 1);
    QSqlQuery client = db.run("select client_name, age from t_clients", {});
    ASSERT_TRUE(client.next());
    EXPECT_EQ(client.value(0).toString(), "Ann");
    EXPECT_EQ(client.value(1).toString(), "42");
    ASSERT_EQ(records().size(), 1);
    EXPECT_EQ(records().at(0).value("client_id").toString(), "10020");
}

TEST_F(SaveStores, UncheckedTreatmentSkipsItsCheckAndStoresNo)
{
    enterPatient("10020", "Ann");
    fillSheet();
    controls.ckbHaveTreat->setChecked(false); // empties and disables the treatment lines
    ASSERT_TRUE(examSheet.btnGenReportClick());
    const QSqlRecord r = records().value(0);
    EXPECT_EQ(r.value("has_treat").toInt(), 0);
    for (int k = 1; k <= 4; ++k)
        EXPECT_EQ(r.value(QStringLiteral("treat%1").arg(k)).toString(), "");
    EXPECT_FALSE(controls.ckbHaveTreat->isChecked());
    EXPECT_FALSE(treatment(1)->isEnabled());
}

TEST_F(SaveStores, KnownPatientWithoutRecordsAndOneSnapshotInSlotTwo)
{
    Statements::insertPatient(db, {.client_id = "10020", .client_name = "Ann"});
    pictureSlots.setCaptureSize(3, {640, 480});
    typeNumber("10020"); // resets the slot sizes
    fillSheet();
    snapshotInto(2, "20160501142530123.jpg", {1280, 1024});
    ASSERT_TRUE(examSheet.btnGenReportClick());
    const QSqlRecord r = records().value(0);
    EXPECT_EQ(r.value("picY1").toInt(), 0);
    EXPECT_EQ(r.value("picY2").toInt(), 1024);
    EXPECT_EQ(r.value("picY3").toInt(), 0);
    EXPECT_EQ(r.value("picY4").toInt(), 0);
}

TEST_F(SaveStores, SlotPicturesBecomeBaselineJpegFilesOfTheirSize)
{
    enterPatient("10020", "Ann");
    fillSheet();
    snapshotInto(1, "a1.jpg");
    snapshotInto(4, "a4.jpg", {1280, 1024}, {320, 240});
    ASSERT_TRUE(examSheet.btnGenReportClick());

    const struct {
        const char *name;
        QSize size;
    } expected[] = {{"a1.jpg", {640, 480}}, {"a4.jpg", {320, 240}}};
    for (const auto &file : expected) {
        const QByteArray data = home.read(QStringLiteral("images/") + file.name);
        ASSERT_FALSE(data.isEmpty()) << file.name;
        EXPECT_EQ(frameMarkers(data), QList<int>({0xC0})) << file.name << " is not baseline";
        const QImage decoded = JpegFile::decode(data);
        EXPECT_EQ(decoded.size(), file.size);
        EXPECT_EQ(decoded.format(), JpegFile::kBitmapFormat);
    }
    EXPECT_EQ(QDir(home.file("images")).entryList(QDir::Files).size(), 2);
}

TEST_F(SaveStores, ReloadedPictureIsNotEncodedAgainButAChangedOneIs)
{
    enterPatient("10020", "Ann");
    fillSheet();
    snapshotInto(1, "a1.jpg");
    snapshotInto(2, "a2.jpg");
    ASSERT_TRUE(examSheet.btnGenReportClick());
    const QByteArray first1 = home.read("images/a1.jpg");
    const QByteArray first2 = home.read("images/a2.jpg");
    ASSERT_NE(JpegFile::encode(pictureSlots.picture(1)), first1) << "re-encoding would change the file";

    ASSERT_TRUE(examSheet.btnGenReportClick());
    EXPECT_EQ(home.read("images/a1.jpg"), first1);
    EXPECT_EQ(home.read("images/a2.jpg"), first2);

    // A picture changed in the processing panel, and a file deleted meanwhile, are written.
    QImage processed = pictureSlots.picture(1);
    processed.invertPixels();
    pictureSlots.setPicture(1, processed);
    QFile::remove(home.file("images/a2.jpg"));
    ASSERT_TRUE(examSheet.btnGenReportClick());
    EXPECT_NE(home.read("images/a1.jpg"), first1);
    EXPECT_FALSE(home.read("images/a2.jpg").isEmpty());
    EXPECT_EQ(records().size(), 3);
}

TEST_F(SaveStores, TwoSlotsNamingOneFileLeaveTheLaterSlotsPicture)
{
    enterPatient("10020", "Ann");
    fillSheet();
    for (int round = 0; round < 5; ++round) {
        snapshotInto(1, "same.jpg", {640, 480}, {640, 480});
        snapshotInto(3, "same.jpg", {640, 480}, {320, 240});
        ASSERT_TRUE(examSheet.btnGenReportClick());
        EXPECT_EQ(JpegFile::read(home.file("images/same.jpg")).size(), QSize(320, 240));
    }
}

TEST_F(SaveStores, NewPhrasesAreRememberedAndOfferedWhileTheLinesKeepTheirText)
{
    settings.writeString("Symptom", "1", "Ulcer");
    enterPatient("10020", "Ann");
    fillSheet();
    ASSERT_TRUE(examSheet.btnGenReportClick());
    EXPECT_EQ(onDisk("Symptom"), QStringList({"1=Ulcer", "2=gastritis"}));
    EXPECT_EQ(onDisk("Treatment"), QStringList({"1=rest"}));
    EXPECT_NE(diagnosis(2)->findText("gastritis"), -1);
    EXPECT_NE(treatment(4)->findText("rest"), -1);
    EXPECT_EQ(diagnosis(1)->currentText(), " gastritis ");
}

// ---- a failing write -----------------------------------------------------------------------

class SaveFailure : public SheetFixture { };

TEST_F(SaveFailure, RecordRejectedRollsBackThePatientToo)
{
    db.run("create trigger refuse before insert on t_contents begin select raise(abort, 'disk says no'); end", {});
    enterPatient("10020", "Ann");
    fillSheet();
    snapshotInto(1, "a1.jpg");
    EXPECT_FALSE(examSheet.btnGenReportClick());

    EXPECT_EQ(count("t_clients"), 0);
    EXPECT_EQ(count("t_contents"), 0);
    EXPECT_EQ(shownKeys, QStringList({"Msg_Submit_Failed"}));
    ASSERT_EQ(dialogs.boxes().size(), 1);
    EXPECT_EQ(dialogs.boxes().at(0).kind, Dialogs::Kind::Error);
    // The sheet stays as it was; files and phrases written before the transaction remain.
    EXPECT_EQ(controls.mmSymp5->toPlainText(), "\n  Findings line one\nline two  \n");
    EXPECT_EQ(pictureSlots.fileName(1), "a1.jpg");
    EXPECT_TRUE(QFileInfo::exists(home.file("images/a1.jpg")));
    EXPECT_EQ(onDisk("Symptom").size(), 2);
    EXPECT_FALSE(db.inTransaction());

    // The connection is usable again: with the fault gone the same sheet saves.
    db.run("drop trigger refuse", {});
    shownKeys.clear();
    EXPECT_TRUE(examSheet.btnGenReportClick());
    EXPECT_EQ(count("t_clients"), 1);
    EXPECT_EQ(count("t_contents"), 1);
}

TEST_F(SaveFailure, TransactionThatCannotStartIsASubmitFailure)
{
    enterPatient("10020", "Ann");
    fillSheet();
    // Another connection holds the write lock past the busy timeout.
    Database other;
    other.open(db.file());
    db.run("pragma busy_timeout = 0", {}).finish();
    other.BeginTrans();
    EXPECT_FALSE(examSheet.btnGenReportClick());
    other.RollbackTrans();
    EXPECT_EQ(shownKeys, QStringList({"Msg_Submit_Failed"}));
    EXPECT_EQ(count("t_contents"), 0);
}

TEST_F(SaveFailure, PictureThatCannotBeWrittenEndsTheSaveBeforeTheDatabase)
{
    enterPatient("10020", "Ann");
    fillSheet();
    snapshotInto(1, "a1.jpg");
    QDir(home.file("images")).removeRecursively();
    home.write("images", "a file where the folder should be");
    EXPECT_THROW(examSheet.btnGenReportClick(), AppError);
    EXPECT_EQ(count("t_clients"), 0);
    EXPECT_EQ(count("t_contents"), 0);
    EXPECT_TRUE(shownKeys.isEmpty());
}

TEST_F(SaveFailure, ReloadFailingAfterTheCommitStillReportsTheSaveThenTheFailure)
{
    // The stored record names a damaged file, so the reload after the commit meets it.
    home.write("images/bad.jpg", "not a jpeg");
    db.run("create trigger damage after insert on t_contents"
           " begin update t_contents set pic1 = 'bad.jpg' where ID = new.ID; end",
           {});
    enterPatient("10020", "Ann");
    fillSheet();
    snapshotInto(1, "a1.jpg");
    EXPECT_THROW(examSheet.btnGenReportClick(), AppError);
    EXPECT_EQ(shownKeys, QStringList({"Msg_Submit_Success"}));
    EXPECT_EQ(count("t_contents"), 1);
    EXPECT_TRUE(pictureSlots.picture(1).isNull());
    EXPECT_EQ(controls.mmSymp5->toPlainText(), "Findings line one\nline two");
}

// ---- reloading -----------------------------------------------------------------------------

class Reload : public SheetFixture {
protected:
    qint64 storeRecord(const QString &number, const std::array<QString, 4> &pics, const QString &findings,
                       bool hasTreat = true)
    {
        Statements::ExamRecord record;
        record.client_id = number;
        record.printtime = QDateTime::currentDateTime();
        record.pic = pics;
        record.symptom = {"d1", " d2 ", "", "d4"};
        record.symptom5 = findings;
        record.has_treat = hasTreat;
        record.treat = {hasTreat ? "t1" : "", "", "", ""};
        record.rh = 36.5;
        record.picY = {480, 0, 1024, 600};
        return Statements::insertExamRecord(db, record);
    }
    void writePicture(const QString &relative, int seed)
    {
        JpegFile::write(testPicture(64, 48, seed), home.file(relative));
    }
};

TEST_F(Reload, SaveShowsTheRecordAsReadBack)
{
    enterPatient("10020", "Ann");
    fillSheet();
    snapshotInto(1, "a1.jpg", {1280, 1024});
    const QImage original = pictureSlots.picture(1);
    ASSERT_TRUE(examSheet.btnGenReportClick());
    EXPECT_EQ(controls.mmSymp5->toPlainText(), "Findings line one\nline two");
    EXPECT_EQ(pictureSlots.captureSize(1), QSize(0, 1024));
    EXPECT_EQ(pictureSlots.fileName(1), "a1.jpg");
    // Decoded from the file: close to, but not the same bytes as, the snapshot.
    EXPECT_EQ(pictureSlots.picture(1), JpegFile::read(home.file("images/a1.jpg")));
    EXPECT_NE(pictureSlots.picture(1), original);
    EXPECT_DOUBLE_EQ(examSheet.rh(), 48.0);
}

TEST_F(Reload, MeasuredSlotComesBackWithItsLengthsAlsoAfterUndeleting)
{
    enterPatient("10020", "Ann");
    fillSheet();
    snapshotInto(2, "a2.jpg");
    const Measurements lines = {{.slot = 2, .start = {1, 2}, .end = {101, 2}, .lengthMm = 10, .mmPerPixel = 0.1}};
    pictureSlots.setMeasurements(2, lines);
    ASSERT_TRUE(examSheet.btnGenReportClick());
    snapshotInto(2, "b2.jpg"); // a new picture has no lengths
    EXPECT_TRUE(pictureSlots.allMeasurements().isEmpty());

    const qint64 entry = DeletionJournal::deleteRecord(db, Statements::examRecordIds(db, "10020").first());
    DeletionJournal::restore(db, entry, home.file("images/"));
    examSheet.LoadLastExamination("10020");
    const Measurements back = pictureSlots.measurements(2);
    ASSERT_EQ(back.size(), 1);
    EXPECT_EQ(back[0].end, QPoint(101, 2));
    EXPECT_DOUBLE_EQ(back[0].lengthMm, 10);
}

TEST_F(Reload, LookUpShowsTheLatestOfThreeRecords)
{
    Statements::insertPatient(db, {.client_id = "10020", .client_name = "Ann"});
    storeRecord("10020", {}, "first");
    storeRecord("10020", {}, "second");
    storeRecord("10020", {}, "third", false);
    typeNumber("10020");
    EXPECT_EQ(controls.mmSymp5->toPlainText(), "third");
    EXPECT_FALSE(controls.ckbHaveTreat->isChecked());
    EXPECT_EQ(diagnosis(2)->currentText(), " d2 ");
    EXPECT_EQ(diagnosis(4)->currentText(), "d4");
    EXPECT_DOUBLE_EQ(examSheet.rh(), 36.5);
    EXPECT_EQ(pictureSlots.captureSize(3), QSize(0, 1024));
    EXPECT_EQ(pictureSlots.captureSize(4), QSize(0, 600));
}

TEST_F(Reload, HeaderAndPatientFieldsAreNotTouched)
{
    Statements::insertPatient(db, {.client_id = "10020", .client_name = "Ann"});
    storeRecord("10020", {}, "first");
    controls.cbTitle->setEditText("Title kept");
    controls.edtDoctor->setText("Doctor kept");
    enterPatient("10020", "Typed name");
    examSheet.LoadLastExamination(" 10020 ");
    EXPECT_EQ(controls.mmSymp5->toPlainText(), "first");
    EXPECT_EQ(controls.cbTitle->currentText(), "Title kept");
    EXPECT_EQ(controls.edtDoctor->text(), "Doctor kept");
    EXPECT_EQ(patient.edtName->text(), "Typed name");
}

TEST_F(Reload, MissingPictureFileLeavesItsSlotEmptyAndShowsTheRest)
{
    writePicture("images/p1.jpg", 1);
    writePicture("images/p3.jpg", 3);
    snapshotInto(2, "old.jpg"); // the sheet shown before must not keep this picture
    storeRecord("10020", {"p1.jpg", "gone.jpg", "p3.jpg", ""}, "findings");
    examSheet.LoadLastExamination("10020");
    EXPECT_FALSE(pictureSlots.picture(1).isNull());
    EXPECT_TRUE(pictureSlots.picture(2).isNull());
    EXPECT_EQ(pictureSlots.fileName(2), "");
    EXPECT_FALSE(pictureSlots.picture(3).isNull());
    EXPECT_TRUE(pictureSlots.picture(4).isNull());
    EXPECT_EQ(controls.mmSymp5->toPlainText(), "findings");
    EXPECT_EQ(pictureSlots.captureSize(2), QSize(0, 0));
}

TEST_F(Reload, StoredNameReachingOutOfTheImagesFolderIsRefused)
{
    writePicture("outside.jpg", 9);
    writePicture("images/p1.jpg", 1);
    storeRecord("10020", {"../outside.jpg", home.file("outside.jpg"), "p1.jpg", "..\\outside.jpg"}, "findings");
    examSheet.LoadLastExamination("10020");
    EXPECT_TRUE(pictureSlots.picture(1).isNull());
    EXPECT_TRUE(pictureSlots.picture(2).isNull());
    EXPECT_FALSE(pictureSlots.picture(3).isNull());
    EXPECT_TRUE(pictureSlots.picture(4).isNull());
    EXPECT_EQ(controls.mmSymp5->toPlainText(), "findings");
}

TEST_F(Reload, DamagedPictureEmptiesItsSlotShowsTheRecordThenReportsTheFile)
{
    home.write("images/bad.jpg", "not a jpeg at all");
    writePicture("images/p2.jpg", 2);
    snapshotInto(1, "old.jpg");
    storeRecord("10020", {"bad.jpg", "p2.jpg", "", ""}, "findings");
    EXPECT_THROW(examSheet.LoadLastExamination("10020"), AppError);
    EXPECT_TRUE(pictureSlots.picture(1).isNull());
    EXPECT_FALSE(pictureSlots.picture(2).isNull());
    EXPECT_EQ(controls.mmSymp5->toPlainText(), "findings");
    EXPECT_EQ(diagnosis(1)->currentText(), "d1");
}

TEST_F(Reload, PatientWithoutRecordsGetsAnEmptySheet)
{
    fillSheet();
    snapshotInto(1, "old.jpg");
    examSheet.LoadLastExamination("10020");
    EXPECT_TRUE(pictureSlots.picture(1).isNull());
    EXPECT_EQ(controls.mmSymp5->toPlainText(), "");
    EXPECT_EQ(diagnosis(1)->currentText(), "");
    EXPECT_EQ(controls.cbTitle->currentText(), "  Gastroscopy  ") << "the header stays";
}

TEST_F(Reload, OpenExaminationRecordsStandsOnTheLatest)
{
    EXPECT_FALSE(examSheet.OpenExaminationRecords("10020"));
    storeRecord("10020", {}, "first");
    const qint64 last = storeRecord("10020", {}, "second");
    storeRecord("10021", {}, "other patient");
    ASSERT_TRUE(examSheet.OpenExaminationRecords(" 10020 "));
    EXPECT_EQ(ADOQuery1.RecordCount(), 2);
    EXPECT_EQ(ADOQuery1.asInteger("ID"), last);
    EXPECT_EQ(ADOQuery1.asString("symptom5"), "second");
}

// ---- report header -------------------------------------------------------------------------

class ReportHeader : public SheetFixture {
protected:
    static QStringList choices(QComboBox *box)
    {
        QStringList items;
        for (int i = 0; i < box->count(); ++i)
            items.append(box->itemText(i));
        return items;
    }
    void store(const QByteArray &content)
    {
        home.write("system.ini", content);
        settings.setPath(home.file("system.ini"));
    }
};

TEST_F(ReportHeader, StartUpFillsTheFieldsAndTheSortedChoices)
{
    store("[report]\r\ntitle=Gastroscopy\r\ndoctor=Dr. Who\r\n"
          "[proposer]\r\n1=zed\r\n2=Amy\r\nbare line\r\n3=b=c\r\n");
    examSheet.LoadReportHeader();
    examSheet.LoadHeaderList(controls.cbProposer, "proposer");
    examSheet.LoadHeaderList(controls.cbTitle, "title");
    EXPECT_EQ(controls.cbTitle->currentText(), "Gastroscopy");
    EXPECT_EQ(controls.edtDoctor->text(), "Dr. Who");
    EXPECT_EQ(controls.cbProposer->currentText(), "");
    EXPECT_EQ(choices(controls.cbProposer), QStringList({"", "Amy", "b=c", "bare line", "zed"}));
    EXPECT_EQ(choices(controls.cbTitle), QStringList({""}));
}

TEST_F(ReportHeader, ClosingSavesTheTrimmedFieldsEvenEmptyAndKeepsOtherKeys)
{
    store("[report]\r\nlogo=1\r\ntitle=Old\r\n");
    controls.cbTitle->setEditText("  New title ");
    controls.edtDoctor->setText("");
    controls.cbProposer->setEditText(" Amy");
    examSheet.SaveReportHeader();
    EXPECT_EQ(onDisk("report"), QStringList({"logo=1", "title=New title", "doctor=", "proposer=Amy"}));
}

// A line edit would cut each value to 32,767 characters between start-up and close.
TEST_F(ReportHeader, LongValuesComeBackWholeAtClose)
{
    const QByteArray title(40000, 'T'), doctor(33000, 'D'), proposer(70000, 'P');
    store("[report]\r\ntitle=" + title + "\r\ndoctor=" + doctor + "\r\nproposer=" + proposer + "\r\n");
    examSheet.LoadReportHeader();
    examSheet.SaveReportHeader();
    EXPECT_EQ(onDisk("report"), QStringList({"title=" + title, "doctor=" + doctor, "proposer=" + proposer}));
}

TEST_F(ReportHeader, NewRequestingDoctorIsAddedUnderTheNextKey)
{
    store("[proposer]\r\n1=Amy\r\n2=Bob\r\n");
    controls.cbProposer->setEditText(" Carl ");
    examSheet.SaveHeaderList(controls.cbProposer, "proposer");
    EXPECT_EQ(onDisk("proposer"), QStringList({"1=Amy", "2=Bob", "3=Carl"}));
}

TEST_F(ReportHeader, KnownOrEmptyValueWritesNothing)
{
    store("[proposer]\r\n1=Amy\r\n2=Bob\r\n");
    const QByteArray before = home.read("system.ini");
    controls.cbProposer->setEditText("aMY");
    examSheet.SaveHeaderList(controls.cbProposer, "proposer");
    controls.cbTitle->setEditText("  ");
    examSheet.SaveHeaderList(controls.cbTitle, "title");
    EXPECT_EQ(home.read("system.ini"), before);
}

TEST_F(ReportHeader, HandEditedKeysAreNeverOverwritten)
{
    store("[title]\r\n1=Colonoscopy\r\n3=Gastroscopy\r\n");
    controls.cbTitle->setEditText("Bronchoscopy");
    examSheet.SaveHeaderList(controls.cbTitle, "title");
    EXPECT_EQ(onDisk("title"), QStringList({"1=Colonoscopy", "3=Gastroscopy", "4=Bronchoscopy"}));
}

// ---- the settings store's section rewrite --------------------------------------------------

class SectionRewrite : public SheetFixture { };

TEST_F(SectionRewrite, ReplacesInPlaceDropsDuplicatesAndRemovesWhenEmpty)
{
    home.write("system.ini", "[a]\r\nx=1\r\n[Symptom]\r\n1=old\r\n[b]\r\ny=2\r\n[symptom]\r\n9=dup\r\n");
    settings.setPath(home.file("system.ini"));
    settings.replaceSection("Symptom", {"1=first", " 2 = second ", "3=line\nbreak"});
    IniFile fresh;
    fresh.setPath(home.file("system.ini"));
    EXPECT_EQ(fresh.readSection("Symptom"), QStringList({"1=first", "2=second", "3=line break"}));
    EXPECT_EQ(fresh.readSection("a"), QStringList({"x=1"}));
    EXPECT_EQ(fresh.readSection("b"), QStringList({"y=2"}));
    EXPECT_TRUE(home.read("system.ini").indexOf("[Symptom]") < home.read("system.ini").indexOf("[b]"));
    EXPECT_EQ(settings.readSection("Symptom"), fresh.readSection("Symptom"));

    settings.replaceSection("Symptom", {});
    EXPECT_FALSE(home.read("system.ini").toLower().contains("[symptom]"));
}

TEST_F(SectionRewrite, ForgettingAPhraseRewritesTheLibraryInOneGo)
{
    home.write("system.ini", "[Symptom]\r\n1=b\r\n5=a\r\n7=c\r\n");
    settings.setPath(home.file("system.ini"));
    diagnosis(1)->setEditText("B");
    ASSERT_TRUE(phrases.ForgetPhrase(PhraseLibrary::Group::Diagnosis, 1));
    EXPECT_EQ(onDisk("Symptom"), QStringList({"1=a", "2=c"}));
}

// ---- a server that does not answer ---------------------------------------------------------

// The records on a private PostgreSQL server that hangs (frozen with SIGSTOP) or whose patient
// numbers another room holds locked: the save fails within its bound with the failure message,
// keeps the sheet and stores nothing; once the server answers, the same sheet saves whole.
TEST_F(SaveFailure, ServerThatDoesNotAnswerFailsTheSaveWithinItsBound)
{
    PgServer server;
    if (!server.start())
        GTEST_SKIP() << "the private PostgreSQL server cannot start: " << server.error().toStdString();
    DatabaseParameters parameters = DatabaseParameters::postgresql(server.connection());
    parameters.bounds = {.connect = 2, .statement = 2, .lock = 1, .tcpUser = 2};
    const int boundMs = (parameters.bounds.statement + DatabaseParameters::kAnswerMarginSeconds) * 1000;
    struct Case {
        const char *what;
        std::function<void()> hold, release;
    };
    Database other;
    other.open(parameters);
    const Case cases[] = {
        {"frozen", [&] { ASSERT_TRUE(server.freeze()); }, [&] { server.thaw(); }},
        {"numbers locked by another room",
         [&] {
             other.BeginTrans();
             Statements::lockPatientNumbers(other);
         },
         [&] { other.RollbackTrans(); }},
    };
    int saved = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        db.open(parameters);
        enterPatient(QString::number(10020 + saved), "Ann");
        fillSheet();
        snapshotInto(1, QStringLiteral("b%1.jpg").arg(saved));
        shownKeys.clear();
        c.hold();
        QElapsedTimer waited;
        waited.start();
        EXPECT_FALSE(examSheet.btnGenReportClick());
        // The bound, with room for the rollback and a loaded machine.
        EXPECT_LT(waited.elapsed(), boundMs + 3000);
        c.release();
        // A server that gave no answer is away until a connection of the check's own succeeds.
        ASSERT_TRUE(QTest::qWaitFor([&] { return !db.isAway(); }, 30000));
        EXPECT_EQ(shownKeys, QStringList({"Msg_Submit_Failed"}));
        EXPECT_EQ(pictureSlots.fileName(1), QStringLiteral("b%1.jpg").arg(saved));
        EXPECT_EQ(count("t_contents"), saved);

        EXPECT_TRUE(examSheet.btnGenReportClick());
        ++saved;
        EXPECT_EQ(count("t_clients"), saved);
        EXPECT_EQ(count("t_contents"), saved);
        EXPECT_EQ(count("t_pictures"), saved);
    }
}
