#pragma once

#include "dicom/DicomPeer.h"
#include "exam/ReportPdf.h"
#include "records/DatabaseEngine.h"
#include "records/OutboxStore.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

class Database;

// The durable queue of DICOM instances for the PACS (its statements are records/OutboxStore):
// a saved record's pictures and report are queued in the save's own transaction and delivered
// later, once each (a row marked sent is never sent again). One Database per thread: any
// thread, each with its own connection.
namespace DicomOutbox {

// Queues the record's instances not queued before: one per filled picture slot and one for the
// report, in the record's study (made, with its UIDs, on the first call). The caller holds the
// transaction. Returns how many were queued.
int queueRecord(const Database &db, qint64 contentId, const QString &accessionNumber = QString());

// Queues every stored record of the patient (every patient when number is empty), each
// record in a transaction of its own. Returns how many instances were queued; `records` gets
// how many records were found.
int queueStoredRecords(Database &db, const QString &number, int *records = nullptr);

using Entry = OutboxStore::Entry;
QList<Entry> entries(const Database &db);

using Summary = OutboxStore::Summary;
Summary summary(const Database &db);

struct Delivery {
    QStringList sent; // one line per instance delivered
    QStringList failed; // one line per instance not delivered, with the reason
};

// One pass over the waiting instances that are due (all of them with ignoreBackOff): one
// association, each instance built from the record as stored and sent. A failure puts the
// instance back with a longer wait (5 s doubling up to 10 min); an instance whose record was
// deleted is dropped unsent. `stop` ends the pass between instances.
Delivery deliver(Database &db, const DicomPeer &pacs, const ReportSource &report, bool ignoreBackOff,
                 const std::atomic<bool> *stop = nullptr);

// The soonest moment a waiting instance is due; invalid when none waits.
QDateTime nextDue(const Database &db);

} // namespace DicomOutbox

// Delivers the outbox in the background: a thread of its own with its own connection to the
// database, woken after each save and at each instance's retry time. Reports the queue's state
// with a signal (queued to the owner's thread). Created and stopped on the window thread.
class OutboxWorker : public QObject {
    Q_OBJECT

public:
    OutboxWorker(const DatabaseParameters &database, const DicomPeer &pacs, const ReportSource &report,
                 QObject *parent = nullptr);
    ~OutboxWorker() override;

    void start();
    // A save queued something: look now rather than at the next retry time.
    void wake();
    // Ends the thread after the instance being sent (bounded by the PACS timeouts).
    void stop();

signals:
    void stateChanged(int waiting, int failing, const QString &lastError);

private:
    void run();

    // set before start(), read by the worker thread
    const DatabaseParameters m_database;
    const DicomPeer m_pacs;
    const ReportSource m_report;
    // shared between the threads
    std::mutex m_mutex;
    std::condition_variable m_wakeUp;
    bool m_woken = false; // under m_mutex
    std::atomic<bool> m_stop{false};
    std::thread m_thread; // window thread only
};
