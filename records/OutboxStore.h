#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

class Database;

// The statements of the DICOM outbox (tables t_dicom_studies, t_dicom_orders, t_dicom_outbox,
// t_dicom_clips, t_dicom_steps, t_dicom_commits and t_dicom_commitments), as
// Statements holds the system's own: what the outbox in exam/ reads and writes, and nothing
// of how instances are built or sent. Failures throw AppError with the engine's message.
// One Database per thread: the outbox's worker calls these on its own connection.
namespace OutboxStore {

// A record's study: its UIDs kept, so sending again never makes a second study.
struct Study {
    QString studyUid;
    QString imageSeriesUid;
    QString reportSeriesUid;
    QString accessionNumber;
};
std::optional<Study> study(const Database &db, qint64 contentId);
void insertStudy(const Database &db, qint64 contentId, const Study &study);

// The worklist order a record was taken from, its texts as the worklist sent them (code
// sequences as one text each); kept in the save's transaction, read for every instance.
struct Order {
    QString studyUid;
    QString accessionNumber;
    QString accessionIssuer;
    QString requestedProcedureId;
    QString requestedProcedureDescription;
    QString requestedProcedureCodes;
    QString scheduledStepId;
    QString scheduledStepDescription;
    QString protocolCodes;
    QString referringPhysician;
    QString patientName;
    QString birthDate;
    QString sex;
    QString issuerOfPatientId;
};
std::optional<Order> order(const Database &db, qint64 contentId);
void insertOrder(const Database &db, qint64 contentId, const Order &order);

// A recorded clip (a file of the video folder) for the PACS; contentId 0 while it waits for its
// patient's next saved record.
struct Clip {
    QString sopUid;
    QString seriesUid;
    QString patientKey; // the patient number's key (PatientText::key)
    QString file;
    QDateTime recordedAt;
    qint64 contentId = 0;
};
void insertClip(const Database &db, const Clip &clip);
std::optional<Clip> clip(const Database &db, const QString &sopUid);
// The clips of the patient that wait for a record, oldest first.
QList<Clip> waitingClips(const Database &db, const QString &patientKey);
// Gives the clip its record and queues it in the outbox as the record's next "video" slot.
void queueClip(const Database &db, const QString &sopUid, qint64 contentId);

// Whether an instance of the record's kind ("image", "report", "video") and slot was ever queued.
bool isQueued(const Database &db, qint64 contentId, const QString &kind, int slot);
// Queues one instance, waiting and due at once.
void queue(const Database &db, const QString &sopUid, qint64 contentId, const QString &kind, int slot);

// One waiting instance whose retry time has come.
struct Waiting {
    QString sopUid;
    qint64 contentId = 0;
    QString kind;
    int slot = 0;
    int attempts = 0;
};
// The waiting instances due at `nowMs` (milliseconds since the epoch), in record, kind and
// slot order: a record's clips after its pictures and report.
QList<Waiting> due(const Database &db, qint64 nowMs);
void markSent(const Database &db, const QString &sopUid, const QDateTime &at);
// One more failed attempt; the instance is due again at `nextTryMs`.
void markFailed(const Database &db, const QString &sopUid, qint64 nextTryMs, const QString &error);
// An instance whose record is gone: taken out unsent.
void dropWaiting(const Database &db, const QString &sopUid);

struct Entry {
    QString sopUid;
    qint64 contentId = 0;
    QString patientNumber;
    QString kind; // "image", "report" or "video"
    int slot = 0;
    QString state; // "waiting" or "sent"
    int attempts = 0;
    QDateTime nextTry;
    QString lastError;
    QString sentAt;
    QString commitment; // empty (never asked), "pending", "committed" or "failed"
    int commitFailure = 0; // the PACS's failure reason when "failed"
};
// Every instance, sent or waiting, in record, kind and slot order.
QList<Entry> entries(const Database &db);

// Instances and procedure step messages together.
struct Summary {
    int waiting = 0;
    int failing = 0; // waiting after at least one failed attempt
    QString lastError;
};
// commit: the sent instances the PACS has not committed count as waiting.
Summary summary(const Database &db, bool commit = false);

// Storage commitment. The sent instances not committed (never asked, or failed and sent again)
// of the records that have nothing waiting, in record, kind and slot order.
struct Stored {
    QString sopUid;
    qint64 contentId = 0;
    QString kind;
};
QList<Stored> uncommitted(const Database &db);
// A new request for these instances of one record, due at once; each instance pending under it.
void queueCommit(const Database &db, const QString &transactionUid, qint64 contentId, const QStringList &sopUids,
                 qint64 nowMs);
struct Commit {
    QString transactionUid;
    qint64 contentId = 0;
    int attempts = 0;
    QList<Stored> items; // the instances still pending under it
};
// The requests to send at `nowMs`: waiting ones, and asked ones whose answer is overdue.
QList<Commit> dueCommits(const Database &db, qint64 nowMs);
// Sent: asked again at `askAgainMs` unless answered before.
void markCommitAsked(const Database &db, const QString &transactionUid, qint64 askAgainMs);
void markCommitFailed(const Database &db, const QString &transactionUid, qint64 nextTryMs, const QString &error);
// The PACS's answer: committed instances read "committed"; failed ones "failed" and go back
// into the outbox, due at once, with the reason as their last error. False when the
// transaction is unknown (nothing changed). The caller holds the transaction.
bool applyCommitReport(const Database &db, const QString &transactionUid, const QStringList &committed,
                       const QList<std::pair<QString, quint16>> &failed);

// Procedure step messages for the RIS: seq 1 the N-CREATE, 2 the N-SET; attributes the data set
// in base64.
void queueStep(const Database &db, const QString &stepUid, int seq, qint64 contentId, const QString &attributes,
               qint64 nowMs);
struct Step {
    QString stepUid;
    int seq = 0;
    qint64 contentId = 0;
    QString attributes;
    QString state; // "waiting" or "sent"
    int attempts = 0;
    QDateTime nextTry;
    QString lastError;
    QString sentAt;
};
// The waiting messages due at `nowMs` whose earlier message of the same step was sent, in the
// order queued (an N-SET never goes before its N-CREATE).
QList<Step> dueSteps(const Database &db, qint64 nowMs);
void markStepSent(const Database &db, const QString &stepUid, int seq, const QDateTime &at);
void markStepFailed(const Database &db, const QString &stepUid, int seq, qint64 nextTryMs, const QString &error);
// Every message, sent or waiting, in the order queued.
QList<Step> steps(const Database &db);

// The soonest moment a waiting instance is due; invalid when none waits.
QDateTime nextDue(const Database &db);

} // namespace OutboxStore
