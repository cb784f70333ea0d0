// The window with a worklist and a PACS configured: F2 on the number field takes the patient
// from a real worklist server, the save queues the examination with the worklist's accession
// number, and the unobtrusive sign says the PACS did not take it.
#include "DicomServers.h"
#include "PgServer.h"
#include "WindowFixture.h"
#include "dicom/CommitListener.h"
#include "exam/PictureSlots.h"
#include "ui/LanguageTexts.h"

#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>

#include <dcmtk/dcmdata/dcuid.h>

namespace {

class DicomWindow : public WindowTest {
protected:
    void SetUp() override
    {
        home.installLanguageFiles();
        home.installReportTemplate();
        const QDate today = QDate::currentDate();
        const QString item = QStringLiteral("(0008,0005) CS [ISO_IR 192]\n"
                                            "(0008,0050) SH [ACC-31]\n"
                                            "(0010,0010) PN [王^小明]\n"
                                            "(0010,0020) LO [W-31]\n"
                                            "(0010,0030) DA [%1]\n"
                                            "(0010,0040) CS [F]\n"
                                            "(0020,000d) UI [2.25.271828]\n"
                                            "(0032,1060) LO [胃镜检查]\n"
                                            "(0040,0100) SQ (Sequence with undefined length #=1)\n"
                                            "(fffe,e000) na (Item with undefined length #=6)\n"
                                            "(0008,0060) CS [ES]\n"
                                            "(0040,0001) AE [EXAMSTATION]\n"
                                            "(0040,0002) DA [%2]\n"
                                            "(0040,0003) TM [1100]\n"
                                            "(0040,0007) LO [Upper GI]\n"
                                            "(0040,0009) SH [SPS-31]\n"
                                            "(fffe,e00d) na (ItemDelimitationItem)\n"
                                            "(fffe,e0dd) na (SequenceDelimitationItem)\n"
                                            "(0040,1001) SH [RP-31]\n")
                                 .arg(today.addYears(-40).toString(QStringLiteral("yyyyMMdd")),
                                      today.toString(QStringLiteral("yyyyMMdd")));
        ASSERT_TRUE(worklist.addItem(QStringLiteral("WORKLIST"), item)) << worklist.whyNot().toStdString();
        if (!worklist.start())
            GTEST_SKIP() << worklist.whyNot().toStdString();
        // The PACS's port has nobody listening: sending fails and is retried.
        config = QStringLiteral("[dicom]\nstation_ae=EXAMSTATION\n"
                                "pacs_host=127.0.0.1\npacs_port=%1\npacs_ae=PACS\n"
                                "worklist_host=127.0.0.1\nworklist_port=%2\n"
                                "worklist_ae=WORKLIST\n"
                                "mpps_host=127.0.0.1\nmpps_port=%3\nmpps_ae=RIS\n")
                     .arg(freeLoopbackPort())
                     .arg(worklist.port())
                     .arg(freeLoopbackPort());
        home.write(QStringLiteral("config.ini"), config.toUtf8());
        openWindow();
    }

    // A snapshot into the next slot, as the live picture's double-click takes it.
    void snapshot()
    {
        QImage picture(64, 48, QImage::Format_RGB888);
        picture.fill(Qt::gray);
        window->pictureSlots().setSnapshot(1, picture, QStringLiteral("20261210120000000.jpg"));
    }

    // The window again, its records on `server`.
    void reopenOn(PgServer &server)
    {
        window.reset();
        home.write(QStringLiteral("config.ini"),
                   (config + QStringLiteral("[database]\ndriver=postgresql\nconnection=%1\n").arg(server.connection()))
                       .toUtf8());
        openWindow();
    }

    WorklistServer worklist;
    QString config;
};

// Snapshots left unsaved when the window closes end their procedure step. On a server the new
// patient's number is drawn and both messages are queued by the database thread, none of it
// waited for on the window's thread, and closing at once loses neither.
TEST_F(DicomWindow, ClosingWithUnsavedSnapshotsDiscontinuesTheirProcedureStep)
{
    PgServer server;
    for (const bool onServer : {false, true}) {
        SCOPED_TRACE(onServer ? "server" : "file");
        if (onServer) {
            if (!server.start())
                GTEST_SKIP() << "the private PostgreSQL server cannot start: " << server.error().toStdString();
            reopenOn(server);
        }
        const int waitsBefore = Database::serverWaitsOnMainThread();
        WindowTest::typeInto(window->edtName, QStringLiteral("Ann Lee"));
        snapshot();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !window->edtNumber->text().isEmpty(); }, 10000));
        window->close();
        window.reset();
        EXPECT_EQ(Database::serverWaitsOnMainThread(), waitsBefore);
        openWindow();
        QSqlQuery steps = db().run(QStringLiteral("select seq, content_id from t_dicom_steps order by seq"), {});
        QStringList rows;
        while (steps.next())
            rows.append(steps.value(0).toString() + u'/' + steps.value(1).toString());
        EXPECT_EQ(rows, (QStringList{"1/0", "2/0"})); // no record: the N-SET is the DISCONTINUED one
    }
}

TEST_F(DicomWindow, F2TakesThePatientFromTheWorklistAndTheSaveWaitsForThePacs)
{
    window->cbTitle->setEditText(QString());
    dialogs.onDialog([](QDialog &dialog) {
        auto *table = dialog.findChild<QTableWidget *>(QStringLiteral("worklistTable"));
        if (!table || table->rowCount() != 1 || table->item(0, 2)->text() != u"王 小明")
            return int(QDialog::Rejected);
        table->selectRow(0);
        return int(QDialog::Accepted);
    });
    window->edtNumber->setFocus();
    QTest::keyClick(window->edtNumber, Qt::Key_F2);

    ASSERT_TRUE(QTest::qWaitFor([this] { return window->edtNumber->text() == u"W-31"; }, 20000));
    EXPECT_EQ(window->edtName->text(), QStringLiteral("王 小明"));
    EXPECT_EQ(window->cbSex->currentText(), window->cbSex->itemText(1));
    EXPECT_EQ(window->edtAge->text(), QStringLiteral("40"));
    EXPECT_EQ(window->cbTitle->currentText(), QStringLiteral("胃镜检查"));
    EXPECT_TRUE(dialogs.boxes().isEmpty()) << dialogs.texts().join(u'/').toStdString();

    window->symptomLines[0]->setEditText(QStringLiteral("gastritis"));
    window->edtDoctor->setText(QStringLiteral("Dr. Who"));
    window->ckbHaveTreat->setChecked(false);
    clickOn(window->btnGenReport);
    ASSERT_EQ(recordRows(QStringLiteral("W-31")), 1) << dialogs.texts().join(u'/').toStdString();
    QSqlQuery study = db().run(QStringLiteral("select s.accession_number, s.study_uid, o.requested_procedure_id,"
                                              " o.scheduled_step_id, o.patient_name from t_dicom_studies s"
                                              " join t_dicom_orders o on o.content_id = s.content_id"),
                               {});
    ASSERT_TRUE(study.next());
    EXPECT_EQ(study.value(0).toString(), QStringLiteral("ACC-31"));
    EXPECT_EQ(study.value(1).toString(), QStringLiteral("2.25.271828"));
    EXPECT_EQ(study.value(2).toString(), QStringLiteral("RP-31"));
    EXPECT_EQ(study.value(3).toString(), QStringLiteral("SPS-31"));
    EXPECT_EQ(study.value(4).toString(), QStringLiteral("王^小明"));

    // The report and the procedure step's N-CREATE failed (the RIS is away too); its N-SET waits
    // behind the N-CREATE, untried.
    EXPECT_TRUE(QTest::qWaitFor(
        [this] { return window->lbDicomState->isVisible() && window->lbDicomState->text() == u"PACS: 2 not sent"; },
        30000))
        << window->lbDicomState->text().toStdString();
    QSqlQuery steps = db().run(QStringLiteral("select seq, content_id from t_dicom_steps order by seq"), {});
    ASSERT_TRUE(steps.next());
    EXPECT_EQ(steps.value(1).toLongLong(), 0); // begun with the save: no snapshot was taken
    ASSERT_TRUE(steps.next());
    EXPECT_GT(steps.value(1).toLongLong(), 0); // with the saved record
    EXPECT_TRUE(window->lbDicomState->toolTip().contains(QStringLiteral("Cannot connect to the")));
}

TEST_F(DicomWindow, CancellingAQueryToAHungWorklistGivesTheWindowBackAndFillsNothing)
{
    worklist.freeze();
    window->edtNumber->setFocus();
    QTest::keyClick(window->edtNumber, Qt::Key_F2);
    QDialog *waiting = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            waiting = window->findChild<QDialog *>(QStringLiteral("WorklistWaitDialog"));
            return waiting && waiting->isVisible();
        },
        5000));
    ASSERT_NE(waiting->findChild<QLabel *>(), nullptr);
    EXPECT_EQ(waiting->findChild<QLabel *>()->text(), QStringLiteral("Asking the worklist for today's procedures..."));
    QTest::qWait(300); // the query waits in its association now

    QElapsedTimer cancelled;
    cancelled.start();
    QTest::keyClick(waiting, Qt::Key_Escape);
    EXPECT_TRUE(QTest::qWaitFor([this] { return QApplication::activeModalWidget() == nullptr; }, 1000));
    EXPECT_LT(cancelled.elapsed(), 1000);
    EXPECT_TRUE(QTest::qWaitForWindowActive(window.get(), 1000));
    typeInto(window->edtNumber, QStringLiteral("1234"));
    EXPECT_EQ(window->edtNumber->text(), QStringLiteral("1234"));

    // An answer after the cancel, had the query gone on, would fill the fields now.
    worklist.thaw();
    QTest::qWait(1500);
    EXPECT_EQ(window->edtNumber->text(), QStringLiteral("1234"));
    EXPECT_TRUE(window->edtName->text().isEmpty());
    EXPECT_TRUE(dialogs.boxes().isEmpty()) << dialogs.texts().join(u'/').toStdString();
}

// The window with a PACS that hangs (SIGSTOP): closing does not wait for it, and what was queued
// goes, once, after the next start.
class HungPacsWindow : public WindowTest {
protected:
    void SetUp() override
    {
        if (!orthanc.start())
            GTEST_SKIP() << orthanc.whyNot().toStdString();
        home.installLanguageFiles();
        home.installReportTemplate();
        home.write(QStringLiteral("config.ini"),
                   (QStringLiteral("[dicom]\npacs_host=127.0.0.1\npacs_port=%1\npacs_ae=%2\n")
                        .arg(orthanc.dicomPort())
                        .arg(orthanc.aet())
                    + moreDicomKeys())
                       .toUtf8());
        openWindow();
    }
    virtual QString moreDicomKeys() const { return {}; }

    int instances() const { return int(orthanc.get(QStringLiteral("/instances")).toArray().size()); }

    OrthancServer orthanc;
};

TEST_F(HungPacsWindow, ClosingEndsWithinTwoSecondsAndTheNextStartDeliversEverythingOnce)
{
    orthanc.freeze();
    for (const QString &name : {QStringLiteral("Ann Lee"), QStringLiteral("Bo Wu")}) {
        typeInto(window->edtName, name);
        typeInto(window->symptomLines[0]->lineEdit(), QStringLiteral("Gastritis"));
        window->cbTitle->setEditText(QStringLiteral("Gastroscopy"));
        typeInto(window->edtDoctor, QStringLiteral("Dr. Wu"));
        window->ckbHaveTreat->setChecked(false);
        dialogs.clear();
        clickOn(window->btnGenReport);
        ASSERT_EQ(dialogs.texts(), QStringList{window->language().message(QStringLiteral("Msg_Submit_Success"))});
    }
    QTest::qWait(1500); // the worker waits for the hung PACS's answer by now

    QElapsedTimer closing;
    closing.start();
    window->close();
    window.reset();
    EXPECT_LT(closing.elapsed(), 2000);

    orthanc.thaw();
    openWindow();
    EXPECT_TRUE(QTest::qWaitFor(
        [this] {
            return count(QStringLiteral("select count(*) from t_dicom_outbox where state = :n"),
                         QStringLiteral("waiting"))
                == 0;
        },
        60000));
    EXPECT_EQ(instances(), 2); // the two reports, each once
    EXPECT_EQ(orthanc.get(QStringLiteral("/studies")).toArray().size(), 2);
}

// With commit=1 the sign counts what the PACS stored but has not committed: here its answers go
// to a port where nobody listens. The window's own listener takes the PACS's association.
class UncommittingPacsWindow : public HungPacsWindow {
protected:
    void SetUp() override
    {
        orthanc.answerCommitmentsAt(freeLoopbackPort());
        HungPacsWindow::SetUp();
    }
    QString moreDicomKeys() const override { return QStringLiteral("commit=1\nlisten_port=%1\n").arg(listener.port); }

    const DicomPeer listener{.host = QStringLiteral("127.0.0.1"),
                             .port = freeLoopbackPort(),
                             .calledAe = QStringLiteral("EXAMSTATION"),
                             .callingAe = QStringLiteral("ORTHANC")};
};

TEST_F(UncommittingPacsWindow, TheSignCountsStoredInstancesThePacsHasNotCommitted)
{
    typeInto(window->edtName, QStringLiteral("Ann Lee"));
    typeInto(window->symptomLines[0]->lineEdit(), QStringLiteral("Gastritis"));
    window->cbTitle->setEditText(QStringLiteral("Gastroscopy"));
    typeInto(window->edtDoctor, QStringLiteral("Dr. Wu"));
    window->ckbHaveTreat->setChecked(false);
    clickOn(window->btnGenReport);
    ASSERT_EQ(dialogs.texts(), QStringList{window->language().message(QStringLiteral("Msg_Submit_Success"))});
    EXPECT_TRUE(QTest::qWaitFor(
        [this] {
            return count(QStringLiteral("select count(*) from t_dicom_commits where state = :n"),
                         QStringLiteral("asked"))
                == 1;
        },
        30000));
    EXPECT_EQ(instances(), 1);
    EXPECT_TRUE(QTest::qWaitFor([this] { return window->lbDicomState->text() == u"PACS: 1 waiting"; }, 5000))
        << window->lbDicomState->text().toStdString();
    // The window's listener takes the PACS's association; one left open does not hold the close.
    DicomAssociation held(listener, QStringLiteral("listener"),
                          {{UID_VerificationSOPClass, {UID_LittleEndianImplicitTransferSyntax}}});
    held.open();
    QElapsedTimer closing;
    closing.start();
    window->close();
    window.reset();
    EXPECT_LT(closing.elapsed(), 2000);
}

// The window recording MP4 clips with a PACS: a clip of the patient shows up in the study of the
// examination saved after it.
class Mp4PacsWindow : public HungPacsWindow {
protected:
    void SetUp() override
    {
        qputenv("EXAMSTATION_SYNTHETIC_CAMERA", "1");
        if (!orthanc.start())
            GTEST_SKIP() << orthanc.whyNot().toStdString();
        home.installLanguageFiles();
        home.installReportTemplate();
        home.write(QStringLiteral("config.ini"),
                   QStringLiteral("[video]\nformat=mp4\n[dicom]\npacs_host=127.0.0.1\npacs_port=%1\npacs_ae=%2\n")
                       .arg(orthanc.dicomPort())
                       .arg(orthanc.aet())
                       .toUtf8());
        openWindow();
    }
    void TearDown() override { qunsetenv("EXAMSTATION_SYNTHETIC_CAMERA"); }
};

TEST_F(Mp4PacsWindow, RecordedClipArrivesInTheStudyOfTheExaminationSavedNext)
{
    // A new patient: the number is drawn at the save.
    typeInto(window->edtName, QStringLiteral("Ann Lee"));
    clickOn(window->btnRecord);
    QTest::qWait(1500);
    clickOn(window->btnRecord);
    // The finished file is taken for the PACS from the event loop, after the stop.
    ASSERT_TRUE(QTest::qWaitFor(
        [this] { return countOf(db(), QStringLiteral("select count(*) from t_dicom_clips"), {}) == 1; }, 5000));
    typeInto(window->symptomLines[0]->lineEdit(), QStringLiteral("Polyp"));
    window->cbTitle->setEditText(QStringLiteral("Colonoscopy"));
    typeInto(window->edtDoctor, QStringLiteral("Dr. Wu"));
    window->ckbHaveTreat->setChecked(false);
    clickOn(window->btnGenReport);
    ASSERT_EQ(dialogs.texts(), QStringList{window->language().message(QStringLiteral("Msg_Submit_Success"))});

    EXPECT_TRUE(QTest::qWaitFor([this] { return instances() == 2; }, 60000)); // the report and the clip
    ASSERT_EQ(orthanc.get(QStringLiteral("/studies")).toArray().size(), 1);
    QStringList classes;
    for (const QJsonValue &id : orthanc.get(QStringLiteral("/instances")).toArray())
        classes << orthanc.get(QStringLiteral("/instances/%1/simplified-tags").arg(id.toString()))
                       .toObject()[QStringLiteral("SOPClassUID")]
                       .toString();
    EXPECT_TRUE(classes.contains(QStringLiteral("1.2.840.10008.5.1.4.1.1.77.1.1.1")))
        << classes.join(u' ').toStdString();
}

} // namespace

namespace {

// The program's --send-dicom and --outbox jobs, run as a clinic runs them, against Orthanc.
class DicomJobs : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!orthanc.start())
            GTEST_SKIP() << orthanc.whyNot().toStdString();
        home.installLanguageFiles();
        home.installReportTemplate();
        home.write(QStringLiteral("config.ini"),
                   QStringLiteral("[dicom]\npacs_host=127.0.0.1\npacs_port=%1\npacs_ae=ORTHANC\n")
                       .arg(orthanc.dicomPort())
                       .toUtf8());
        QImage picture(64, 48, QImage::Format_RGB888);
        picture.fill(Qt::darkCyan);
        QDir().mkpath(home.file(QStringLiteral("images")));
        ASSERT_TRUE(picture.save(home.file(QStringLiteral("images/p1.jpg")), "JPG"));
        Database db;
        db.open();
        Statements::insertPatient(db, {QStringLiteral("P1"), QStringLiteral("Ann Lee")});
        addRecord(db, QStringLiteral("P1"), QStringLiteral("p1.jpg"));
        addRecord(db, QStringLiteral("P1"), QString());
    }

    static void addRecord(Database &db, const QString &number, const QString &picture)
    {
        Statements::ExamRecord record;
        record.client_id = number;
        record.title = QStringLiteral("Colonoscopy");
        record.printtime = QDateTime(QDate(2019, 5, 6), QTime(8, 30, 0));
        record.pic[0] = picture;
        Statements::insertExamRecord(db, record);
    }

    // Runs the program with these arguments (after the command `through` when given); its exit
    // code and standard output.
    std::pair<int, QString> run(const QStringList &arguments, const QStringList &through = {})
    {
        QProcess program;
        const QStringList command = through
            + QStringList{QStringLiteral(EXAMSTATION_BINARY), QStringLiteral("--home"), home.path()} + arguments;
        program.setProgram(command.first());
        program.setArguments(command.mid(1));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        if (!environment.contains(QStringLiteral("LSAN_OPTIONS")))
            environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        program.setProcessEnvironment(environment);
        program.start();
        if (!program.waitForFinished(120000))
            return {-1, QStringLiteral("did not finish")};
        return {program.exitCode(), QString::fromUtf8(program.readAllStandardOutput())};
    }

    TestHome home;
    OrthancServer orthanc;
};

TEST_F(DicomJobs, DicomEchoReportsEachPartnerAndFailsWhenOneDoesNotAnswer)
{
    const auto [code, output] = run({QStringLiteral("--dicom-echo")});
    EXPECT_EQ(code, 0) << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("PACS\tORTHANC at 127.0.0.1:%1\tok\t").arg(orthanc.dicomPort())))
        << output.toStdString();

    home.write(QStringLiteral("config.ini"),
               QStringLiteral("[dicom]\npacs_host=127.0.0.1\npacs_port=%1\npacs_ae=ORTHANC\n"
                              "worklist_host=127.0.0.1\nworklist_port=%2\nworklist_ae=WORKLIST\n")
                   .arg(orthanc.dicomPort())
                   .arg(freeLoopbackPort())
                   .toUtf8());
    const auto [downCode, downOutput] = run({QStringLiteral("--dicom-echo")});
    EXPECT_EQ(downCode, 1);
    EXPECT_TRUE(downOutput.contains(QStringLiteral("PACS\tORTHANC at 127.0.0.1:%1\tok").arg(orthanc.dicomPort())));
    EXPECT_TRUE(downOutput.contains(QStringLiteral("worklist\tWORKLIST at 127.0.0.1:"))) << downOutput.toStdString();
    EXPECT_TRUE(downOutput.contains(QStringLiteral("\tFAILED\t"))) << downOutput.toStdString();

    // The station's own listener, called from outside as the PACS calls it.
    const DicomPeer own{.host = QStringLiteral("127.0.0.1"),
                        .port = freeLoopbackPort(),
                        .calledAe = QStringLiteral("EXAMSTATION"),
                        .callingAe = QStringLiteral("ORTHANC")};
    CommitListener listener(own, [](const CommitReport &) { return true; });
    listener.start();
    home.write(QStringLiteral("config.ini"),
               QStringLiteral("[dicom]\npacs_host=127.0.0.1\npacs_port=%1\npacs_ae=ORTHANC\nlisten_port=%2\n")
                   .arg(orthanc.dicomPort())
                   .arg(own.port)
                   .toUtf8());
    const auto [ownCode, ownOutput] = run({QStringLiteral("--dicom-echo")});
    EXPECT_EQ(ownCode, 0) << ownOutput.toStdString();
    EXPECT_TRUE(ownOutput.contains(QStringLiteral("listener\tEXAMSTATION at 127.0.0.1:%1\tok\t").arg(own.port)))
        << ownOutput.toStdString();
}

// A name server that is away holds the check no longer than the connect timeout (10 s), and the
// failure names the host.
TEST_F(DicomJobs, DicomEchoEndsAtTheConnectTimeoutWhenTheNameServerIsAway)
{
    UnansweringNameServer dns;
    if (!dns.usable())
        GTEST_SKIP() << dns.whyNot().toStdString();
    home.write(QStringLiteral("config.ini"), "[dicom]\npacs_host=pacs.hospital.test\npacs_port=104\npacs_ae=PACS\n");
    QElapsedTimer took;
    took.start();
    const auto [code, output] = run({QStringLiteral("--dicom-echo")}, dns.command());
    EXPECT_EQ(code, 1) << output.toStdString();
    EXPECT_TRUE(
        output.contains(QStringLiteral("\tFAILED\tCannot connect to the PACS PACS at pacs.hospital.test:104: the "
                                       "name servers did not resolve the host name \"pacs.hospital.test\" "
                                       "within 10 s")))
        << output.toStdString();
    EXPECT_LT(took.elapsed(), 30000); // the name servers alone would wait 60 s
}

TEST_F(DicomJobs, SendDicomDeliversThePastOnceAndSaysWhatWasNotSent)
{
    const auto [firstCode, firstOutput] = run({QStringLiteral("--send-dicom"), QStringLiteral("P1")});
    EXPECT_EQ(firstCode, 0) << firstOutput.toStdString();
    EXPECT_TRUE(firstOutput.contains(QStringLiteral("3 sent, 0 not sent"))) << firstOutput.toStdString();
    EXPECT_EQ(orthanc.get(QStringLiteral("/instances")).toArray().size(), 3);
    EXPECT_EQ(orthanc.get(QStringLiteral("/studies")).toArray().size(), 2);
    EXPECT_EQ(orthanc.iodErrors().toStdString(), "");

    const auto [againCode, againOutput] = run({QStringLiteral("--send-dicom"), QStringLiteral("all")});
    EXPECT_EQ(againCode, 0);
    EXPECT_TRUE(againOutput.contains(QStringLiteral("0 sent, 0 not sent"))) << againOutput.toStdString();

    orthanc.stop();
    {
        Database db;
        db.open(home.file(QStringLiteral("data/data.db")));
        addRecord(db, QStringLiteral("P1"), QString());
    }
    const auto [downCode, downOutput] = run({QStringLiteral("--send-dicom"), QStringLiteral("all")});
    EXPECT_EQ(downCode, 3); // done in part: the rest waits in the outbox
    EXPECT_TRUE(downOutput.contains(QStringLiteral("NOT SENT\tpatient P1, record 3, report")))
        << downOutput.toStdString();

    const auto [listCode, listing] = run({QStringLiteral("--outbox")});
    EXPECT_EQ(listCode, 0);
    EXPECT_EQ(listing.count(QStringLiteral("sent\tpatient P1")), 3);
    EXPECT_EQ(listing.count(QStringLiteral("waiting\tpatient P1\trecord 3\treport")), 1);
}

} // namespace
