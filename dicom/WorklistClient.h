#pragma once

#include "dicom/DicomAssociation.h"
#include "dicom/WorklistOrder.h"

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
    WorklistOrder order; // everything the examination keeps of the item

    // Whole years from the birth date to `on`; empty without a birth date.
    QString ageOn(const QDate &on) const;
};

// Asks a modality worklist (C-FIND, Modality Worklist Information Model) for the procedure
// steps scheduled on one day for this station. One association per query; any thread (`cancel` from another).
namespace WorklistClient {

// Items in the order of their scheduled time. An answer that declares no Specific Character Set
// is read in the peer's assumedCharset. Throws DicomError when the server cannot be reached,
// refuses the association, answers the query with a failure, sends texts that cannot be read
// in their character set, or `cancel` ends the query.
QList<WorklistItem> query(const DicomPeer &worklist, const QDate &day, DicomCancel *cancel = nullptr);

} // namespace WorklistClient
