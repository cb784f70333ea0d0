// Saved examinations reach a real Orthanc through the outbox: in the save's transaction, by the
// background worker, once, across a PACS that is down and a restart of the workstation.
#include "exam/DicomOutbox.h"

#include "DicomServers.h"
#include "MediaProbe.h"
#include "SheetFixture.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <functional>

namespace {

class DicomOutboxTest : public SheetFixture {
protected:
    void SetUp() override
    {
        if (!orthanc.start())
            GTEST_SKIP() << orthanc.whyNot().toStdString();
        home.installReportTemplate();
        examSheet.setOutbox([this] {
            if (worker)
                worker->wake();
        });
    }

    void startWorkstationOutbox()
    {
        worker = std::make_unique<OutboxWorker>(db.parameters(), pacs(), report());
        worker->start();
    }

    DicomPeer pacs() const { return orthanc.peer(); }

    ReportSource report() const
    {
        return {ProgramFolder::file("images/"), home.file("data/1.fr3"), home.file("lang/english.ini")};
    }

    void saveExamination(const QString &number, const QString &name, int pictures, const Measurements &lengths = {})
    {
        enterPatient(number, name);
        fillSheet();
        for (int slot = 1; slot <= 4; ++slot) {
            if (slot <= pictures)
                snapshotInto(slot, QStringLiteral("%1_%2.jpg").arg(number).arg(slot));
            else
                pictureSlots.ClearSlotPicture(slot);
        }
        pictureSlots.setMeasurements(1, lengths);
        ASSERT_TRUE(examSheet.btnGenReportClick());
    }

    // Waits (bounded) until Orthanc holds this many instances.
    int instancesArriving(int expected)
    {
        const QDeadlineTimer deadline(60000);
        int count = 0;
        while (!deadline.hasExpired()) {
            QCoreApplication::processEvents();
            count = int(orthanc.get(QStringLiteral("/instances")).toArray().size());
            if (count >= expected)
                break;
            QThread::msleep(200);
        }
        return count;
    }

    OrthancServer orthanc;
    std::unique_ptr<OutboxWorker> worker;
};

TEST_F(DicomOutboxTest, SavedExaminationArrivesAsOneStudyOfFourPicturesAndTheReport)
{
    startWorkstationOutbox();
    saveExamination(QStringLiteral("A-7"), QStringLiteral("王小明"), 4);
    ASSERT_EQ(instancesArriving(5), 5);

    const QJsonArray studies = orthanc.get(QStringLiteral("/studies?expand")).toArray();
    ASSERT_EQ(studies.size(), 1);
    const QJsonObject study = studies[0].toObject();
    const QJsonObject tags = study[QStringLiteral("MainDicomTags")].toObject();
    EXPECT_EQ(tags[QStringLiteral("StudyDescription")].toString(), QStringLiteral("Gastroscopy"));
    EXPECT_EQ(tags[QStringLiteral("ReferringPhysicianName")].toString(), QStringLiteral("Dr. Proposer^"));
    const QJsonObject patient = study[QStringLiteral("PatientMainDicomTags")].toObject();
    EXPECT_EQ(patient[QStringLiteral("PatientName")].toString(), QStringLiteral("王小明^"));
    EXPECT_EQ(patient[QStringLiteral("PatientID")].toString(), QStringLiteral("A-7"));
    EXPECT_EQ(patient[QStringLiteral("PatientSex")].toString(), QStringLiteral("F"));
    QSqlQuery kept = db.run(QStringLiteral("select study_uid from t_dicom_studies"), {});
    ASSERT_TRUE(kept.next());
    EXPECT_EQ(tags[QStringLiteral("StudyInstanceUID")].toString(), kept.value(0).toString());

    // The report is the record's page, rendered to PDF.
    int documents = 0;
    for (const QJsonValue &id : orthanc.get(QStringLiteral("/instances")).toArray()) {
        const QByteArray pdf = orthanc.getRaw(QStringLiteral("/instances/%1/pdf").arg(id.toString()));
        if (!pdf.isEmpty()) {
            ++documents;
            EXPECT_TRUE(pdf.startsWith("%PDF-"));
            EXPECT_GT(pdf.size(), 10000); // the four pictures are on the page
        }
    }
    EXPECT_EQ(documents, 1);
    EXPECT_EQ(orthanc.iodErrors().toStdString(), "");
}

// A viewer gets the calibrated pictures and a measurement report in the examination's study:
// the report's end points and the picture's pixel spacing give back each length.
TEST_F(DicomOutboxTest, MeasuredExaminationSendsCalibratedPicturesAndItsMeasurementReport)
{
    // Taken from the worklist: the report names the order as its IOD asks.
    examSheet.setWorklistOrder(QStringLiteral("M-1"),
                               {.studyUid = QStringLiteral("2.25.3141"),
                                .accessionNumber = QStringLiteral("ACC-3"),
                                .requestedProcedureId = QStringLiteral("RP-3")});
    enterPatient(QStringLiteral("M-1"), QStringLiteral("Ann"));
    fillSheet();
    snapshotInto(1, QStringLiteral("m1.jpg"));
    snapshotInto(2, QStringLiteral("m2.jpg"));
    const auto line = [](int slot, QPoint from, QPoint to, double scale) {
        Measurement m{.slot = slot,
                      .start = from,
                      .end = to,
                      .mmPerPixel = scale,
                      .calibrationRatio = 0.1,
                      .calibrationHeight = 480,
                      .method = Measurement::kKnownLength};
        m.lengthMm = m.pixels() * scale;
        return m;
    };
    const Measurements lengths = {line(1, {10, 20}, {310, 420}, 0.0625), line(1, {5, 5}, {6, 90}, 0.0625),
                                  line(2, {600, 10}, {20, 470}, 0.1234567)};
    examSheet.setObserver([] { return QStringLiteral("Li Na"); });
    pictureSlots.setMeasurements(1, lengths.mid(0, 2));
    pictureSlots.setMeasurements(2, lengths.mid(2));
    ASSERT_TRUE(examSheet.btnGenReportClick());
    const DicomOutbox::Delivery delivery = DicomOutbox::deliver(db, pacs(), report(), true);
    ASSERT_EQ(delivery.sent.size(), 4) << delivery.failed.join(u'\n').toStdString();
    EXPECT_EQ(orthanc.iodErrors().toStdString(), "");

    const QJsonArray studies = orthanc.get(QStringLiteral("/studies")).toArray();
    ASSERT_EQ(studies.size(), 1);
    QStringList modalities;
    for (const QJsonValue &series :
         orthanc.get(QStringLiteral("/studies/%1/series").arg(studies[0].toString())).toArray())
        modalities << series[QStringLiteral("MainDicomTags")][QStringLiteral("Modality")].toString();
    modalities.sort();
    EXPECT_EQ(modalities, (QStringList{"DOC", "ES", "SR"}));
    QMap<QString, double> spacingOf; // by SOP Instance UID
    QString reportFile;
    for (const QJsonValue &id :
         orthanc.get(QStringLiteral("/studies/%1/instances").arg(studies[0].toString())).toArray()) {
        const QString instance = id.toObject()[QStringLiteral("ID")].toString();
        const QJsonObject tags = orthanc.get(QStringLiteral("/instances/%1/simplified-tags").arg(instance)).toObject();
        if (tags[QStringLiteral("Modality")].toString() == u"SR") {
            reportFile = home.file(QStringLiteral("sr.dcm"));
            QFile out(reportFile);
            ASSERT_TRUE(out.open(QIODevice::WriteOnly));
            out.write(orthanc.getRaw(QStringLiteral("/instances/%1/file").arg(instance)));
        } else if (tags[QStringLiteral("Modality")].toString() == u"ES") {
            EXPECT_EQ(tags[QStringLiteral("PixelSpacingCalibrationType")].toString(), QStringLiteral("FIDUCIAL"));
            spacingOf.insert(tags[QStringLiteral("SOPInstanceUID")].toString(),
                             tags[QStringLiteral("PixelSpacing")].toString().section(u'\\', 0, 0).toDouble());
        }
    }
    ASSERT_FALSE(reportFile.isEmpty());
    // Each length with its unit, inferred from a line on one of the pictures sent.
    const QString dump = DicomToolOutput(QStringLiteral("dsrdump"), reportFile, {"+Pu", "+Pl"});
    EXPECT_TRUE(dump.contains(QStringLiteral("\"Person Observer Name\")=\"Li Na^\""))) << dump.toStdString();
    static const QRegularExpression kDumped(
        QStringLiteral("NUM:\\(,,\"Length\"\\)=\"[0-9.]+\" \\(mm,UCUM,\"millimeter\"\\)>\\s+<inferred from SCOORD:"
                       "=\\(POLYLINE,[^>]*>\\s+<selected from IMAGE:=\\(SC image,\"([0-9.]+)\"\\)>"));
    int dumped = 0;
    for (const QRegularExpressionMatch &match : kDumped.globalMatch(dump)) {
        EXPECT_TRUE(spacingOf.contains(match.captured(1)));
        ++dumped;
    }
    EXPECT_EQ(dumped, lengths.size()) << dump.toStdString();
    // Read back as XML: the end points and the picture's spacing measure each length again.
    const QString xml = DicomToolOutput(QStringLiteral("dsr2xml"), reportFile);
    static const QRegularExpression kNum(QStringLiteral("<num>.*?<instance uid=\"([^\"]+)\"/>.*?<data>([^<]+)</data>"
                                                        "\\s*</scoord>\\s*<value>([^<]+)</value>"),
                                         QRegularExpression::DotMatchesEverythingOption);
    int read = 0;
    for (const QRegularExpressionMatch &match : kNum.globalMatch(xml)) {
        ASSERT_LT(read, lengths.size());
        const QStringList points = match.captured(2).split(QRegularExpression(QStringLiteral("[/,]")));
        ASSERT_EQ(points.size(), 4);
        const double pixels =
            std::hypot(points[2].toDouble() - points[0].toDouble(), points[3].toDouble() - points[1].toDouble());
        EXPECT_NEAR(pixels * spacingOf.value(match.captured(1)), lengths[read].lengthMm, 0.01);
        EXPECT_NEAR(match.captured(3).toDouble(), lengths[read].lengthMm, 0.01);
        ++read;
    }
    EXPECT_EQ(read, lengths.size()) << xml.toStdString();
}

TEST_F(DicomOutboxTest, AWorklistPatientsExaminationArrivesUnderTheOrdersStudyWithTheOrder)
{
    startWorkstationOutbox();
    const WorklistOrder order{.studyUid = QStringLiteral("2.25.161803"),
                              .accessionNumber = QStringLiteral("ACC-8"),
                              .requestedProcedureId = QStringLiteral("RP-8"),
                              .requestedProcedureDescription = QStringLiteral("Gastroskopie"),
                              .requestedProcedureCodes = {{.value = "GI-01", .scheme = "99HOSP", .meaning = "Gastro"}},
                              .scheduledStepId = QStringLiteral("SPS-8"),
                              .referringPhysician = QStringLiteral("Chen^Li"),
                              .patientName = QStringLiteral("Müller^Jürgen"),
                              .birthDate = QStringLiteral("19800215")};
    examSheet.setWorklistOrder(QStringLiteral("W-8"), order);
    saveExamination(QStringLiteral("W-8"), QStringLiteral("Müller Jürgen"), 1);
    // The order went with that save only: the next examination is a study of its own.
    saveExamination(QStringLiteral("W-8"), QStringLiteral("Müller Jürgen"), 1);
    ASSERT_EQ(instancesArriving(4), 4);

    const QJsonArray instances = orthanc.get(QStringLiteral("/instances")).toArray();
    int ordered = 0;
    for (const QJsonValue &id : instances) {
        const QJsonObject tags =
            orthanc.get(QStringLiteral("/instances/%1/simplified-tags").arg(id.toString())).toObject();
        if (tags[QStringLiteral("StudyInstanceUID")].toString() != order.studyUid) {
            EXPECT_TRUE(tags[QStringLiteral("RequestAttributesSequence")].isUndefined());
            continue;
        }
        ++ordered;
        EXPECT_EQ(tags[QStringLiteral("PatientName")].toString(), QStringLiteral("Müller^Jürgen"));
        EXPECT_EQ(tags[QStringLiteral("PatientBirthDate")].toString(), QStringLiteral("19800215"));
        EXPECT_EQ(tags[QStringLiteral("ReferringPhysicianName")].toString(), QStringLiteral("Chen^Li"));
        EXPECT_EQ(tags[QStringLiteral("AccessionNumber")].toString(), QStringLiteral("ACC-8"));
        const QJsonObject request = tags[QStringLiteral("RequestAttributesSequence")].toArray()[0].toObject();
        EXPECT_EQ(request[QStringLiteral("RequestedProcedureID")].toString(), QStringLiteral("RP-8"));
        EXPECT_EQ(request[QStringLiteral("ScheduledProcedureStepID")].toString(), QStringLiteral("SPS-8"));
        EXPECT_EQ(request[QStringLiteral("RequestedProcedureCodeSequence")].toArray().size(), 1);
    }
    EXPECT_EQ(ordered, 2);
    EXPECT_EQ(orthanc.iodErrors().toStdString(), "");
}

// The RIS hears each examination begin (its first snapshot) and end (the save, or the sheet
// abandoned), in that order, even when it is away at first: the messages wait in the outbox.
class ProcedureStepCourse;
struct StepCourse {
    const char *name;
    std::function<void(ProcedureStepCourse &)> course;
    int instances; // arriving in the PACS
    QStringList steps; // each step's statuses in order, its discontinuation reason after a '/'
};

class ProcedureStepCourse : public DicomOutboxTest, public ::testing::WithParamInterface<StepCourse> {
public:
    using DicomOutboxTest::enterPatient;
    using DicomOutboxTest::saveExamination;
    using DicomOutboxTest::snapshotInto;
    void takeFromWorklist(const QString &number, const QString &name, const QString &stepId)
    {
        enterPatient(number, name);
        examSheet.setWorklistOrder(number,
                                   {.studyUid = QStringLiteral("2.25.141421.") + number.back(),
                                    .requestedProcedureId = QStringLiteral("RP-9"),
                                    .scheduledStepId = stepId,
                                    .patientName = name});
    }
    void clearSheet() { numbering.btnNewClick(); }
    void typeNumber(const QString &number) { SheetFixture::typeNumber(number); }
};

TEST_P(ProcedureStepCourse, TheRisHearsEachExaminationBeginAtItsFirstSnapshotAndEnd)
{
    MppsServer ris;
    examSheet.setProcedureSteps(QStringLiteral("EXAMSTATION"));
    GetParam().course(*this);
    if (!ris.start())
        GTEST_SKIP() << ris.whyNot().toStdString();
    worker = std::make_unique<OutboxWorker>(db.parameters(), pacs(), report(), nullptr, ris.peer());
    worker->start();
    EXPECT_TRUE(QTest::qWaitFor([this] { return DicomOutbox::summary(db).waiting == 0; }, 30000));
    ASSERT_EQ(instancesArriving(GetParam().instances), GetParam().instances);

    // Each step's messages in order: what its N-CREATE began, its N-SET ended.
    QMap<QString, QList<QJsonObject>> byStep;
    QStringList steps;
    for (const QJsonValue &message : ris.received()) {
        const QString uid = message.toObject()["uid"].toString();
        if (!byStep.contains(uid))
            steps.append(uid);
        byStep[uid].append(message.toObject());
    }
    QStringList courses;
    for (const QString &uid : steps) {
        QString course;
        for (const QJsonObject &message : byStep.value(uid)) {
            const QJsonObject attributes = message["attributes"].toObject();
            course += (course.isEmpty() ? "" : ">") + attributes["PerformedProcedureStepStatus"].toString();
            for (const QJsonValue &reason :
                 attributes["PerformedProcedureStepDiscontinuationReasonCodeSequence"].toArray())
                course += u'/' + reason.toObject()["CodeValue"].toString();
        }
        courses.append(course);
    }
    EXPECT_EQ(courses, GetParam().steps);
    // The outbox (and `--outbox`) says what each message said.
    QStringList listed;
    for (const OutboxStore::Step &step : DicomOutbox::steps(db))
        listed.append(DicomOutbox::stepStatus(step).toUpper());
    QStringList said = QString(courses.join(u'>')).remove(QRegularExpression("/\\d+")).split(u'>');
    listed.sort();
    said.sort();
    EXPECT_EQ(listed, said);

    // The completed step began with the saved study's patient and study, and names every instance.
    const auto completed = std::find_if(steps.cbegin(), steps.cend(), [&](const QString &uid) {
        return byStep.value(uid).size() == 2
            && byStep.value(uid)[1]["attributes"].toObject()["PerformedProcedureStepStatus"].toString() == u"COMPLETED";
    });
    ASSERT_NE(completed, steps.cend());
    const QList<QJsonObject> done = byStep.value(*completed);
    QSqlQuery study = db.run(QStringLiteral("select s.study_uid, c.client_id from t_dicom_studies s"
                                            " join t_contents c on c.ID = s.content_id"),
                             {});
    ASSERT_TRUE(study.next());
    const QJsonObject begun = done[0]["attributes"].toObject();
    EXPECT_EQ(begun["ScheduledStepAttributesSequence"].toArray().first().toObject()["StudyInstanceUID"].toString(),
              study.value(0).toString());
    EXPECT_EQ(begun["PatientID"].toString(), study.value(1).toString());
    QStringList named;
    for (const QJsonValue &series : done[1]["attributes"].toObject()["PerformedSeriesSequence"].toArray()) {
        for (const char *sequence : {"ReferencedImageSequence", "ReferencedNonImageCompositeSOPInstanceSequence"}) {
            for (const QJsonValue &reference : series.toObject()[QLatin1String(sequence)].toArray())
                named.append(reference.toObject()["ReferencedSOPInstanceUID"].toString());
        }
    }
    QStringList queued;
    for (const DicomOutbox::Entry &entry : DicomOutbox::entries(db))
        queued.append(entry.sopUid);
    named.sort();
    queued.sort();
    EXPECT_EQ(named, queued);
}

INSTANTIATE_TEST_SUITE_P(
    Sheet, ProcedureStepCourse,
    ::testing::Values(
        // The wrong worklist patient's snapshots stay on the sheet for the right one. Measured:
        // the completed step names the measurement report too.
        StepCourse{"WorklistPatientsThenAnother",
                   [](ProcedureStepCourse &c) {
                       c.takeFromWorklist(QStringLiteral("W-8"), QStringLiteral("Wrong One"), QStringLiteral("SPS-8"));
                       c.snapshotInto(1, QStringLiteral("W-8_1.jpg"));
                       c.takeFromWorklist(QStringLiteral("W-9"), QStringLiteral("Lee Ann"), QStringLiteral("SPS-9"));
                       c.saveExamination(QStringLiteral("W-9"), QStringLiteral("Lee Ann"), 2,
                                         {{.slot = 1, .end = {30, 40}, .lengthMm = 5, .mmPerPixel = 0.1}});
                   },
                   4,
                   {"IN PROGRESS>DISCONTINUED/110514", "IN PROGRESS>COMPLETED"}},
        // A worklist patient's report of no snapshot still performed the scheduled step.
        StepCourse{"WorklistPatientSavedWithoutASnapshot",
                   [](ProcedureStepCourse &c) {
                       c.takeFromWorklist(QStringLiteral("W-7"), QStringLiteral("Lee Ann"), QStringLiteral("SPS-7"));
                       c.saveExamination(QStringLiteral("W-7"), QStringLiteral("Lee Ann"), 0);
                   },
                   1,
                   {"IN PROGRESS>COMPLETED"}},
        // Unscheduled: the sheet's patient, a study of the workstation's own; the new patient's
        // number is drawn at the first snapshot.
        StepCourse{"UnscheduledPatient",
                   [](ProcedureStepCourse &c) { c.saveExamination(QString(), QStringLiteral("Ann Lee"), 1); },
                   2,
                   {"IN PROGRESS>COMPLETED"}},
        // Snapshots, then the sheet cleared ("+") or another patient loaded, nothing saved.
        StepCourse{"SheetClearedOrAnotherPatientLoaded",
                   [](ProcedureStepCourse &c) {
                       c.saveExamination(QStringLiteral("K-1"), QStringLiteral("Known One"), 1);
                       c.snapshotInto(2, QStringLiteral("K-1_2.jpg"));
                       c.clearSheet();
                       c.enterPatient(QString(), QStringLiteral("New One"));
                       c.snapshotInto(1, QStringLiteral("N-1.jpg"));
                       c.typeNumber(QStringLiteral("K-1"));
                   },
                   2,
                   {"IN PROGRESS>COMPLETED", "IN PROGRESS>DISCONTINUED/110513", "IN PROGRESS>DISCONTINUED/110513"}}),
    [](const ::testing::TestParamInfo<StepCourse> &info) { return std::string(info.param.name); });

TEST_F(DicomOutboxTest, PacsDownThenWorkstationRestartDeliversEverySavedExaminationOnce)
{
    orthanc.stop();
    startWorkstationOutbox();
    saveExamination(QStringLiteral("B-1"), QStringLiteral("Ann Lee"), 2);
    saveExamination(QStringLiteral("B-2"), QStringLiteral("李娜"), 1);
    // A third examination is deleted in the preview before the PACS comes back: never sent.
    saveExamination(QStringLiteral("B-3"), QStringLiteral("Deleted"), 3);
    ADOQuery1.open(db, QStringLiteral("B-3"));
    ADOQuery1.Delete(db);

    // The workstation closes while the PACS is down; nothing is lost.
    worker.reset();
    const QList<DicomOutbox::Entry> waiting = DicomOutbox::entries(db);
    ASSERT_EQ(waiting.size(), 5); // 2 + 1 pictures and 2 reports
    for (const DicomOutbox::Entry &entry : waiting)
        EXPECT_EQ(entry.state, QStringLiteral("waiting"));

    ASSERT_TRUE(orthanc.start()) << orthanc.whyNot().toStdString();
    startWorkstationOutbox();
    EXPECT_EQ(instancesArriving(5), 5);
    worker.reset();
    EXPECT_EQ(orthanc.get(QStringLiteral("/studies")).toArray().size(), 2);
    for (const DicomOutbox::Entry &entry : DicomOutbox::entries(db))
        EXPECT_EQ(entry.state, QStringLiteral("sent")) << entry.sopUid.toStdString();

    // Queuing the stored examinations again sends nothing twice.
    EXPECT_EQ(DicomOutbox::queueStoredRecords(db, QString()), 0);
    const DicomOutbox::Delivery again = DicomOutbox::deliver(db, pacs(), report(), true);
    EXPECT_TRUE(again.sent.isEmpty());
    EXPECT_TRUE(again.failed.isEmpty());
}

// With commit=1 the PACS is asked to commit each examination once all its instances are stored,
// and answers on a new association to the station's listener (Orthanc's modality entry points
// there), in the clear or over TLS. An instance the PACS lost before the request comes back
// failed, is stored again and is committed under a second request.
struct CommitCase {
    const char *name;
    bool tls;
    bool lostBeforeCommit;
    bool measured; // adds the measurement report to the instances asked for
};

class DicomCommitTest : public DicomOutboxTest, public ::testing::WithParamInterface<CommitCase> {
protected:
    void SetUp() override
    {
        listenerPort = freeLoopbackPort();
        orthanc.answerCommitmentsAt(listenerPort);
        if (GetParam().tls) {
            files = makeTestCertificates(orthanc.folder());
            ASSERT_TRUE(files.whyNot.isEmpty()) << files.whyNot.toStdString();
            orthanc.useTls(files);
        }
        DicomOutboxTest::SetUp();
    }

    DicomPeer secured(const DicomPeer &peer) const { return GetParam().tls ? overTls(peer, files, files.ca) : peer; }

    void startOutbox(bool commit)
    {
        worker = std::make_unique<OutboxWorker>(db.parameters(), secured(pacs()), report());
        if (commit)
            worker->setCommitment(secured({.host = QStringLiteral("127.0.0.1"),
                                           .port = listenerPort,
                                           .calledAe = QStringLiteral("EXAMSTATION"),
                                           .callingAe = orthanc.aet()}));
        worker->start();
    }

    bool everyInstanceCommitted()
    {
        const QList<DicomOutbox::Entry> entries = DicomOutbox::entries(db);
        return !entries.isEmpty() && std::all_of(entries.begin(), entries.end(), [](const DicomOutbox::Entry &entry) {
            return entry.commitment == u"committed";
        });
    }

    quint16 listenerPort = 0;
    TestCertificates files;
};

TEST_P(DicomCommitTest, EveryInstanceReadsCommittedOnceThePacsKeepsIt)
{
    startOutbox(!GetParam().lostBeforeCommit);
    Measurements lengths;
    if (GetParam().measured)
        lengths = {{.slot = 1, .start = {0, 0}, .end = {30, 40}, .lengthMm = 5, .mmPerPixel = 0.1}};
    saveExamination(QStringLiteral("E-1"), QStringLiteral("Ann Lee"), 2, lengths);
    const int instances = GetParam().measured ? 4 : 3;
    ASSERT_EQ(instancesArriving(instances), instances);
    if (GetParam().lostBeforeCommit) {
        worker.reset();
        ASSERT_TRUE(orthanc.remove(
            QStringLiteral("/instances/%1").arg(orthanc.get(QStringLiteral("/instances")).toArray()[0].toString())));
        startOutbox(true);
    }
    EXPECT_TRUE(QTest::qWaitFor([this] { return everyInstanceCommitted(); }, 30000));
    EXPECT_EQ(DicomOutbox::summary(db, true).waiting, 0);
    EXPECT_EQ(orthanc.get(QStringLiteral("/instances")).toArray().size(), instances);
    QSqlQuery requests = db.run(QStringLiteral("select count(*) from t_dicom_commits"), {});
    ASSERT_TRUE(requests.next());
    EXPECT_EQ(requests.value(0).toInt(), GetParam().lostBeforeCommit ? 2 : 1);
}

INSTANTIATE_TEST_SUITE_P(Commitment, DicomCommitTest,
                         ::testing::Values(CommitCase{"PlainWithMeasurementReport", false, false, true},
                                           CommitCase{"OverTls", true, false, false},
                                           CommitCase{"LostInstance", false, true, false}),
                         [](const auto &info) { return std::string(info.param.name); });

// A recorded clip joins the study of the patient's next saved examination, or of the one saved
// last when recorded after the save; it arrives after the pictures as a Video Endoscopic Image
// in H.264 High Profile / Level 4.1 that plays and passes dciodvfy.
struct ClipCase {
    const char *recordedUnder; // the number field's text when the recording began
    bool afterSave;
};

class DicomClipTest : public DicomOutboxTest, public ::testing::WithParamInterface<ClipCase> { };

TEST_P(DicomClipTest, ClipArrivesInTheExaminationsStudyAfterThePicturesAndPlays)
{
    const QString clip = home.file("video/20261210_101500.mp4");
    ASSERT_TRUE(WriteTestClip(clip, 90, 30, {640, 480}));
    startWorkstationOutbox();
    if (!GetParam().afterSave)
        examSheet.clipRecorded(clip, QString::fromUtf8(GetParam().recordedUnder));
    saveExamination(QStringLiteral("E-1"), QStringLiteral("Ann Lee"), 1);
    if (GetParam().afterSave)
        examSheet.clipRecorded(clip, QString::fromUtf8(GetParam().recordedUnder));
    ASSERT_EQ(instancesArriving(3), 3);

    ASSERT_EQ(orthanc.get(QStringLiteral("/studies")).toArray().size(), 1);
    QString video;
    for (const QJsonValue &change :
         orthanc.get(QStringLiteral("/changes?limit=100"))[QStringLiteral("Changes")].toArray())
        if (change[QStringLiteral("ChangeType")].toString() == QStringLiteral("NewInstance"))
            video = change[QStringLiteral("ID")].toString(); // the last instance that arrived
    const QJsonObject tags = orthanc.get(QStringLiteral("/instances/%1/simplified-tags").arg(video)).toObject();
    EXPECT_EQ(tags[QStringLiteral("SOPClassUID")].toString(), QStringLiteral("1.2.840.10008.5.1.4.1.1.77.1.1.1"));
    EXPECT_EQ(orthanc.getRaw(QStringLiteral("/instances/%1/metadata/TransferSyntax").arg(video)),
              QByteArray("1.2.840.10008.1.2.4.102"));
    EXPECT_EQ(tags[QStringLiteral("NumberOfFrames")].toString(), QStringLiteral("90"));

    const QString dicomFile = home.file("temp/clip.dcm");
    const QString stream = home.file("temp/clip.h264");
    QDir().mkpath(home.file("temp"));
    QFile dicom(dicomFile);
    ASSERT_TRUE(dicom.open(QIODevice::WriteOnly));
    dicom.write(orthanc.getRaw(QStringLiteral("/instances/%1/file").arg(video)));
    dicom.close();
    const QStringList errors = DicomVerifyErrors(dicomFile);
    EXPECT_TRUE(errors.isEmpty()) << errors.join(u'\n').toStdString();
    QFile extracted(stream);
    ASSERT_TRUE(extracted.open(QIODevice::WriteOnly));
    extracted.write(orthanc.getRaw(QStringLiteral("/instances/%1/content/7fe0-0010/1").arg(video)));
    extracted.close();
    const VideoProbe probe = ProbeVideo(stream);
    ASSERT_TRUE(probe.error.isEmpty()) << probe.error.toStdString();
    EXPECT_EQ(probe.codec, QStringLiteral("h264"));
    EXPECT_EQ(probe.profile, QStringLiteral("High"));
    EXPECT_EQ(probe.size, QSize(640, 480));
    EXPECT_EQ(probe.frames, 90);
}

INSTANTIATE_TEST_SUITE_P(BeforeOrAfterTheSave, DicomClipTest,
                         ::testing::Values(ClipCase{"E-1", false}, ClipCase{"E-1", true},
                                           ClipCase{"", false})); // a new patient's number is drawn at the save

TEST_F(DicomOutboxTest, ClipLongerThanTenMinutesIsRefusedWithAMessageAndNotQueued)
{
    const QString clip = home.file("video/F-1_20261210_101500.mp4");
    ASSERT_TRUE(WriteTestClip(clip, 601, 1, {64, 64})); // ten minutes and one second
    examSheet.clipRecorded(clip, QStringLiteral("F-1"));
    EXPECT_EQ(shownKeys, QStringList{QStringLiteral("Msg_Clip_Too_Long")});
    saveExamination(QStringLiteral("F-1"), QStringLiteral("Ann Lee"), 1);
    for (const DicomOutbox::Entry &entry : DicomOutbox::entries(db))
        EXPECT_NE(entry.kind, QStringLiteral("video"));
    EXPECT_TRUE(QFile::exists(clip));
}

TEST_F(DicomOutboxTest, AWorkerWhoseDatabaseCannotBeOpenedTriesAgain)
{
    saveExamination(QStringLiteral("C-1"), QStringLiteral("Ann Lee"), 1);
    // A folder where the database file should be: opening it fails until it is back.
    const QString file = db.parameters().file;
    ASSERT_TRUE(QFile::rename(file, file + QStringLiteral(".away")));
    ASSERT_TRUE(QDir().mkdir(file));
    startWorkstationOutbox();
    QThread::msleep(1000);
    ASSERT_TRUE(QDir().rmdir(file));
    ASSERT_TRUE(QFile::rename(file + QStringLiteral(".away"), file));
    EXPECT_EQ(instancesArriving(2), 2);
}

TEST_F(DicomOutboxTest, StoppingDoesNotWaitForAPacsThatNeverAnswersTheConnection)
{
    UnansweringPort silent;
    DicomPeer unanswering = pacs();
    unanswering.port = silent.port();
    worker = std::make_unique<OutboxWorker>(db.parameters(), unanswering, report());
    worker->start();
    saveExamination(QStringLiteral("D-1"), QStringLiteral("Ann Lee"), 0);
    QThread::msleep(1500); // connecting by now (the connect timeout is 5 s)

    QElapsedTimer stopping;
    stopping.start();
    worker.reset();
    EXPECT_LT(stopping.elapsed(), 2000);
    const QList<DicomOutbox::Entry> waiting = DicomOutbox::entries(db);
    ASSERT_EQ(waiting.size(), 1);
    EXPECT_EQ(waiting[0].state, QStringLiteral("waiting"));
    EXPECT_EQ(waiting[0].attempts, 0); // a stop is no failed attempt
}

} // namespace
