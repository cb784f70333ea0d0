// The procedure step of an examination reaches the RIS's MPPS side (dcmjs-dimse): IN PROGRESS
// with the worklist's scheduled step, then COMPLETED naming every instance.
#include "dicom/ProcedureStep.h"

#include "DicomServers.h"

#include <QJsonObject>

#include <dcmtk/dcmdata/dcdatset.h>
#include <gtest/gtest.h>

namespace {

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
