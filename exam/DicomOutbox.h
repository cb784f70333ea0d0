#pragma once

#include "dicom/CommitListener.h"
#include "dicom/DicomAssociation.h"
#include "dicom/ProcedureStep.h"
#include "dicom/StudyInstance.h"
#include "dicom/WorklistOrder.h"
#include "exam/ReportPdf.h"
#include "records/DatabaseEngine.h"
#include "records/OutboxStore.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class Database;

// The durable queue of DICOM instances for the PACS (its statements are records/OutboxStore):
// a saved record's pictures and report are queued in the save's own transaction (with the
// patient's recorded clips that waited for it), and delivered
// later, once each (a row marked sent is never sent again). One Database per thread: any
// thread, each with its own connection.
namespace DicomOutbox {

// Queues the record's instances not queued before: one per filled picture slot and one for the
// report, in the record's study (made, with its UIDs, on the first call: the worklist order's
// study when the record was taken from the worklist, else `studyUid` when given (the study its
// procedure step began), else a new one; the order is kept with the study). The caller holds
// the transaction. Returns how many were queued.
int queueRecord(const Database &db, qint64 contentId, const WorklistOrder &order = {}, const QString &studyUid = {});

// The procedure step (MPPS) of an examination. IN PROGRESS is queued at the examination's first
// snapshot (its own transaction): with the worklist's scheduled step when study.order has one,
// unscheduled otherwise, with the patient and study of `study`. COMPLETED with the record's
// save, in the save's transaction, naming every instance queued. The caller holds any
// transaction.
void queueStepInProgress(const Database &db, const QString &stepUid, const StudyValues &study,
                         const QString &stationAe);
void queueStepCompleted(const Database &db, const QString &stepUid, qint64 contentId);
// DISCONTINUED: the step's examination was abandoned with nothing saved.
void queueStepDiscontinued(const Database &db, const QString &stepUid, ProcedureStep::Abandoned why);

// The longest clip sent: ten minutes. The instance is built and sent whole from memory (about
// 700 MB at 1920 x 1080), so a longer recording stays in the video folder only.
constexpr double kLongestClipSeconds = 10 * 60;

// Takes a recorded clip (an MP4 file of the patient) for the PACS: queued at once into the
// study of record `savedContentId` when it is not 0, else kept waiting for the patient's next
// saved record (queueWaitingClips). Its own transaction.
void queueClip(Database &db, const QString &file, const QString &patientNumber, qint64 savedContentId,
               const QDateTime &recordedAt);
// Queues the patient's waiting clips into record `contentId`'s study, after its pictures and
// report, with the clips recorded without a number since `unnumberedSince` (a new patient's
// number is drawn at the save). The caller holds the transaction (the save's). Returns how many
// were queued.
int queueWaitingClips(const Database &db, qint64 contentId, const QString &patientNumber,
                      const QDateTime &unnumberedSince);

// Queues every stored record of the patient (every patient when number is empty), each
// record in a transaction of its own. Returns how many instances were queued; `records` gets
// how many records were found.
int queueStoredRecords(Database &db, const QString &number, int *records = nullptr);

using Entry = OutboxStore::Entry;
QList<Entry> entries(const Database &db);

using Summary = OutboxStore::Summary;
// commit: the instances the PACS has not committed yet count as waiting.
Summary summary(const Database &db, bool commit = false);

struct Delivery {
    QStringList sent; // one line per instance delivered
    QStringList failed; // one line per instance not delivered, with the reason
};

// One pass over the waiting instances that are due (all of them with ignoreBackOff): one
// association, each instance built from the record as stored and sent. A failure puts the
// instance back with a longer wait (5 s doubling up to 10 min); an instance whose record was
// deleted is dropped unsent. `cancel` ends the pass at once, aborting the association under way;
// the instance being sent then stays waiting as it was. `progress` hears how many of the due
// instances are done, before each one and after the last.
Delivery deliver(Database &db, const DicomPeer &pacs, const ReportSource &report, bool ignoreBackOff,
                 DicomCancel *cancel = nullptr, const std::function<void(int done, int total)> &progress = {});

// One pass over the due procedure step messages, in order, each on an association of its own;
// a failure puts the message back with a longer wait and holds the later messages of its step.
Delivery deliverSteps(Database &db, const DicomPeer &ris, DicomCancel *cancel = nullptr);
QList<OutboxStore::Step> steps(const Database &db);
// What a step's message says: "in progress", "completed" (it names its record) or "discontinued".
QString stepStatus(const OutboxStore::Step &step);

// Storage commitment: asks the PACS to commit the instances of each record whose instances
// are all stored (a transaction kept before it is sent, one association each), and asks again
// when an answer is overdue. An answer on the same association is kept at once; the others
// come to the listener (keepCommitReport). A failure puts the request back with a longer wait.
// At most five requests a pass; the rest are due at the next pass, right after.
Delivery deliverCommitments(Database &db, const DicomPeer &pacs, DicomCancel *cancel = nullptr);
// The PACS's answer in a transaction of its own: each instance "committed" or "failed" (failed
// ones go back into the outbox). False when it cannot be kept or answers no known request.
bool keepCommitReport(Database &db, const CommitReport &report);

// The soonest moment a waiting instance is due; invalid when none waits.
QDateTime nextDue(const Database &db);

} // namespace DicomOutbox

// Delivers the outbox in the background: a thread of its own with its own connection to the
// database (opened again with back-off while it cannot be), woken after each save and at each
// instance's retry time. Reports the queue's state with a signal (queued to the owner's thread).
// Created and stopped on the window thread; stop() never waits on the PACS.
class OutboxWorker : public QObject {
    Q_OBJECT

public:
    // ris: where the procedure steps go (disabled: none are sent).
    OutboxWorker(const DatabaseParameters &database, const DicomPeer &pacs, const ReportSource &report,
                 QObject *parent = nullptr, const DicomPeer &ris = {});
    ~OutboxWorker() override;

    // Before start(): asks the PACS to commit what it stored, and with listener.enabled()
    // listens for its answers on a new association.
    void setCommitment(const DicomPeer &listener);

    void start();
    // A save queued something: look now rather than at the next retry time.
    void wake();
    // Ends the thread at once: the association under way is aborted (its socket shut down from
    // this thread, see DicomCancel) and what was being sent stays queued for the next start.
    void stop();

signals:
    void stateChanged(int waiting, int failing, const QString &lastError);

private:
    void run();

    // set before start(), read by the worker thread
    const DatabaseParameters m_database;
    const DicomPeer m_pacs;
    const DicomPeer m_ris;
    const ReportSource m_report;
    bool m_commit = false;
    DicomPeer m_listenerPeer;
    std::unique_ptr<CommitListener> m_listener; // window thread only
    // Sleeps until woken, stopped or `ms` passed; false once stopped.
    bool pause(qint64 ms);

    // shared between the threads
    std::mutex m_mutex;
    std::condition_variable m_wakeUp;
    bool m_woken = false; // under m_mutex
    bool m_stop = false; // under m_mutex, so that a stop cannot slip between a check and the wait
    DicomCancel m_cancel; // aborts the association under way
    std::thread m_thread; // window thread only
};
