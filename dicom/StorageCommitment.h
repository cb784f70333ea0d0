#pragma once

#include "dicom/DicomAssociation.h"

#include <QList>
#include <QString>

#include <memory>
#include <optional>

class DcmDataset;

// One instance the PACS is asked to commit.
struct CommitItem {
    QString sopClass;
    QString sopUid;
};

// The PACS's answer to one commitment request (the N-EVENT-REPORT): what it keeps and what it
// does not, with the failure reason of each.
struct CommitReport {
    QString transactionUid;
    QStringList committed;
    QList<std::pair<QString, quint16>> failed; // SOP Instance UID, Failure Reason
};

// Storage Commitment Push Model, as its SCU (IHE RAD-10): the N-ACTION request, the
// N-EVENT-REPORT read back, and the request sent on one association. Any thread.
namespace StorageCommitment {

extern const char *const kSopClass; // Storage Commitment Push Model SOP Class
extern const char *const kSopInstance; // its well-known instance

std::unique_ptr<DcmDataset> request(const QString &transactionUid, const QList<CommitItem> &items);
// The report's data set; nullopt when it carries no Transaction UID.
std::optional<CommitReport> reportOf(DcmDataset &attributes);

// How long the association waits for the answer after the request, for a PACS that answers on
// it; a PACS that answers on a new association (to the listener) is not waited for longer.
constexpr int kSameAssociationWaitSeconds = 2;

// Sends the request on an association of its own and waits kSameAssociationWaitSeconds for an
// answer on it: `onReport` (this thread) gets it and says whether it was kept, which answers
// the PACS. Throws DicomError when the PACS cannot be reached or refuses the request.
void ask(const DicomPeer &pacs, const QString &transactionUid, const QList<CommitItem> &items,
         const std::function<bool(const CommitReport &)> &onReport, DicomCancel *cancel = nullptr);

} // namespace StorageCommitment
