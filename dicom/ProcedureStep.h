#pragma once

#include "dicom/DicomAssociation.h"
#include "dicom/StudyInstance.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

class DcmDataset;

// One series an examination made, as the completed procedure step names it.
struct PerformedSeries {
    QString seriesUid;
    QString description;
    QString sopClass;
    QStringList sopUids;
    bool images = true; // images go into Referenced Image Sequence, the report elsewhere
};

// The Modality Performed Procedure Step of one examination (IHE RAD-6 and RAD-7): the data set of
// its N-CREATE "IN PROGRESS" and of its N-SET "COMPLETED", from plain values. Any thread.
namespace ProcedureStep {

extern const char *const kSopClass; // Modality Performed Procedure Step SOP Class

// With the worklist's scheduled step when study.order has one, unscheduled otherwise.
std::unique_ptr<DcmDataset> inProgress(const StudyValues &study, const QString &stepId, const QString &stationAe,
                                       const QDateTime &start);
std::unique_ptr<DcmDataset> completed(const StudyValues &study, const QDateTime &end,
                                      const QList<PerformedSeries> &series);

// Why a step was abandoned (nothing saved), as its discontinuation reason code says.
enum class Abandoned {
    OtherWorklistPatient, // another worklist patient taken: DCM 110514 "Incorrect worklist entry selected"
    SheetCleared, // the sheet cleared or another patient loaded: DCM 110513 "Discontinued for unspecified reason"
};
std::unique_ptr<DcmDataset> discontinued(const QDateTime &end, Abandoned why);

// Sends one N-CREATE (create) or N-SET of the step `stepUid` to the RIS, one association.
// Throws DicomError when the RIS cannot be reached, refuses, or answers with a failure.
void send(const DicomPeer &ris, bool create, const QString &stepUid, DcmDataset &attributes,
          DicomCancel *cancel = nullptr);

// A data set as bytes (Explicit VR Little Endian) for the outbox, and back; null when the bytes
// are no data set.
QByteArray bytesOf(DcmDataset &dataset);
std::unique_ptr<DcmDataset> datasetOf(const QByteArray &bytes);

} // namespace ProcedureStep
