#pragma once

#include "dicom/DicomPeer.h"

#include <QDate>
#include <QList>
#include <QString>

// One scheduled procedure step of the modality worklist, as the workstation shows and uses it.
struct WorklistItem {
    QString time; // scheduled start, "HH:mm" (empty when not given)
    QString patientId;
    QString patientName; // components joined with blanks
    QString sex; // M, F, O or empty
    QDate birthDate; // invalid when not given
    QString procedure; // requested procedure description, else the step's description
    QString accessionNumber;

    // Whole years from the birth date to `on`; empty without a birth date.
    QString ageOn(const QDate &on) const;
};

// Asks a modality worklist (C-FIND, Modality Worklist Information Model) for the procedure
// steps scheduled on one day for this station. One association per query; any thread.
namespace WorklistClient {

// Items in the order of their scheduled time. Throws DicomError (dicom/StoreClient.h) when the
// server cannot be reached, refuses the association or answers the query with a failure.
QList<WorklistItem> query(const DicomPeer &worklist, const QDate &day);

} // namespace WorklistClient
