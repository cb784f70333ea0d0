#pragma once

#include "core/Audit.h"
#include "records/AuditStore.h"
#include "records/DatabaseEngine.h"
#include "security/AuditSyslog.h"

#include <QList>
#include <QString>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

// Who works where: the names each audit entry carries.
struct Workstation {
    QString operatorName;
    QString host;
    QString aeTitle;

    // The desktop user's login name, this computer's host name and the given AE title.
    static Workstation thisComputer(const QString &aeTitle);
};

// The audit trail of one process: the sink of Audit::record while it lives. An event is stamped
// and queued on the thread it happens on (microseconds); a writer thread of its own appends the
// queue to t_audit on its own connection, one transaction per batch, so a slow disk or server
// never holds the window. A failed append is tried again a second later; what is queued when
// the trail ends is written before the destructor returns.
class AuditTrail {
public:
    // With a repository set (config.ini [audit] syslog_host), each entry is also queued for it in
    // the step that stores it, and an AuditForwarder sends the queue.
    AuditTrail(const DatabaseParameters &parameters, const Workstation &workstation,
               const SyslogSettings &repository = SyslogSettings::fromConfig());
    ~AuditTrail();
    AuditTrail(const AuditTrail &) = delete;
    AuditTrail &operator=(const AuditTrail &) = delete;

    // Any thread.
    // The trail installed last, or nullptr.
    static AuditTrail *current();
    void record(Audit::Event event, const QString &patient, Audit::Outcome outcome);
    void setOperator(const QString &name);
    QString operatorName() const;
    // Waits until everything recorded so far is stored, or until an attempt failed (tests, jobs).
    void flush();

private:
    void run();

    const DatabaseParameters m_parameters;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_written;
    // guarded by m_mutex
    Workstation m_workstation;
    QList<AuditEntry> m_queue;
    bool m_writing = false;
    quint64 m_failures = 0;
    bool m_stopping = false;
    // the station whose entries go to the repository (empty: none do), and their sender
    const QString m_syslogStation;
    std::unique_ptr<AuditForwarder> m_forwarder;
    // writer thread only: started last, after every member it uses
    std::thread m_writer;
};
