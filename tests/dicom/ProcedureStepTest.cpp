// The procedure step of an examination reaches the RIS's MPPS side (dcmjs-dimse): IN PROGRESS
// with the worklist's scheduled step, then COMPLETED naming every instance; and each kind of
// data set passes dciodvfy.
#include "dicom/ProcedureStep.h"

#include "DicomServers.h"
#include "MediaProbe.h"

#include <QJsonObject>
#include <QTemporaryDir>

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <gtest/gtest.h>

namespace {

// dciodvfy's errors for a step's data set, stored as the RIS keeps the managed instance (its
// class and UID added). dciodvfy knows no procedure step IOD, so it checks every attribute's
// value representation and reports that one error besides.
QString verifyErrors(const DcmDataset &attributes)
{
    QTemporaryDir dir;
    DcmFileFormat file(const_cast<DcmDataset *>(&attributes)); // a deep copy
    file.getDataset()->putAndInsertString(DCM_SOPClassUID, ProcedureStep::kSopClass);
    file.getDataset()->putAndInsertString(DCM_SOPInstanceUID, "2.25.1");
    const QString path = dir.filePath(QStringLiteral("step.dcm"));
    if (file.saveFile(path.toLocal8Bit().constData(), EXS_LittleEndianExplicit).bad())
        return QStringLiteral("cannot write %1").arg(path);
    QStringList errors = DicomVerifyErrors(path);
    errors.removeAll(QStringLiteral("Error - Information Object Not found"));
    return errors.join(u'\n');
}

TEST(ProcedureStepTest, InProgressThenCompletedNamingEveryInstanceSurvivesTheOutboxEncoding)
{
    MppsServer ris;
    if (!ris.start())
        GTEST_SKIP() << ris.whyNot().toStdString();
    StudyValues study{.patientId = QStringLiteral("W-1"),
                      .patientName = QStringLiteral("Müller Jürgen"),
                      .sex = QStringLiteral("M"),
                      .performingPhysician = QStringLiteral("Dr. Wang"),
                      .studyUid = QStringLiteral("2.25.271828"),
                      .studyId = QStringLiteral("5"),
                      .order = {.studyUid = QStringLiteral("2.25.271828"),
                                .accessionNumber = QStringLiteral("ACC-1"),
                                .requestedProcedureId = QStringLiteral("RP-1"),
                                .scheduledStepId = QStringLiteral("SPS-1"),
                                .patientName = QStringLiteral("Müller^Jürgen"),
                                .birthDate = QStringLiteral("19800215")}};
    const QString step = StudyInstance::newUid();
    const QDateTime start(QDate(2026, 12, 10), QTime(9, 30));
    // Each message goes through its stored form, as the outbox keeps it.
    auto created = ProcedureStep::datasetOf(
        ProcedureStep::bytesOf(*ProcedureStep::inProgress(study, QStringLiteral("PPS-5"), "EXAMSTATION", start)));
    ASSERT_TRUE(created);
    ProcedureStep::send(ris.peer(), true, step, *created);
    // Every kind of data set sent, the unscheduled step's among them, is valid.
    StudyValues unscheduled{.patientId = QStringLiteral("7"),
                            .patientName = QStringLiteral("Lee Ann"),
                            .sex = QStringLiteral("女"),
                            .studyUid = QStringLiteral("2.25.7")};
    for (const auto &attributes :
         {ProcedureStep::inProgress(study, QStringLiteral("PPS-5"), "EXAMSTATION", start),
          ProcedureStep::inProgress(unscheduled, QStringLiteral("PPS-7"), "EXAMSTATION", start),
          ProcedureStep::discontinued(start, ProcedureStep::Abandoned::OtherWorklistPatient),
          ProcedureStep::discontinued(start, ProcedureStep::Abandoned::SheetCleared)})
        EXPECT_EQ(verifyErrors(*attributes).toStdString(), "");
    const QList<PerformedSeries> series = {{.seriesUid = "1.2.3.1",
                                            .description = "Pictures",
                                            .sopClass = "1.2.840.10008.5.1.4.1.1.7",
                                            .sopUids = {"1.2.3.1.1", "1.2.3.1.2"},
                                            .images = true},
                                           {.seriesUid = "1.2.3.2",
                                            .description = "Report",
                                            .sopClass = "1.2.840.10008.5.1.4.1.1.104.1",
                                            .sopUids = {"1.2.3.2.1"},
                                            .images = false}};
    auto completed =
        ProcedureStep::datasetOf(ProcedureStep::bytesOf(*ProcedureStep::completed(study, start.addSecs(600), series)));
    ASSERT_TRUE(completed);
    EXPECT_EQ(verifyErrors(*completed).toStdString(), "");
    ProcedureStep::send(ris.peer(), false, step, *completed);

    const QJsonArray received = ris.received();
    ASSERT_EQ(received.size(), 2);
    const QJsonObject create = received[0].toObject();
    EXPECT_EQ(create["command"].toString(), QStringLiteral("N-CREATE"));
    EXPECT_EQ(create["uid"].toString(), step);
    const QJsonObject inProgress = create["attributes"].toObject();
    EXPECT_EQ(inProgress["PerformedProcedureStepStatus"].toString(), QStringLiteral("IN PROGRESS"));
    // dcmjs gives a person name as its component groups.
    EXPECT_EQ(inProgress["PatientName"].toArray()[0].toObject()["Alphabetic"].toString(),
              QStringLiteral("Müller^Jürgen"));
    const QJsonObject scheduled = inProgress["ScheduledStepAttributesSequence"].toArray()[0].toObject();
    EXPECT_EQ(scheduled["StudyInstanceUID"].toString(), QStringLiteral("2.25.271828"));
    EXPECT_EQ(scheduled["ScheduledProcedureStepID"].toString(), QStringLiteral("SPS-1"));

    const QJsonObject set = received[1].toObject();
    EXPECT_EQ(set["command"].toString(), QStringLiteral("N-SET"));
    EXPECT_EQ(set["uid"].toString(), step);
    const QJsonObject done = set["attributes"].toObject();
    EXPECT_EQ(done["PerformedProcedureStepStatus"].toString(), QStringLiteral("COMPLETED"));
    const QJsonArray performed = done["PerformedSeriesSequence"].toArray();
    ASSERT_EQ(performed.size(), 2);
    EXPECT_EQ(performed[0].toObject()["ReferencedImageSequence"].toArray().size(), 2);
    EXPECT_EQ(performed[1]
                  .toObject()["ReferencedNonImageCompositeSOPInstanceSequence"]
                  .toArray()[0]
                  .toObject()["ReferencedSOPInstanceUID"]
                  .toString(),
              QStringLiteral("1.2.3.2.1"));
}

} // namespace
