#pragma once

#include "records/AuditStore.h"
#include "records/DatabaseEngine.h"

#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

class Database;

// The hospital's audit repository: config.ini [audit] syslog_host, syslog_port (6514), and the
// TLS files syslog_ca (the CA that signed the repository's certificate), syslog_certificate and
// syslog_key (this workstation's, when the repository asks for one).
struct SyslogSettings {
    QString host;
    quint16 port = 6514;
    QString caFile;
    QString certificateFile;
    QString keyFile;

    bool enabled() const { return !host.isEmpty(); }
    static SyslogSettings fromConfig();
};

namespace AuditSyslog {

// The entry as a DICOM audit message (AuditMessage XML, one line).
QByteArray auditMessage(const AuditEntry &entry);
// The message as an RFC 5424 syslog message (authpriv.notice, MSGID DICOM+RFC3881), framed with
// its octet count for a TLS stream.
QByteArray framedSyslog(const AuditEntry &entry, qint64 processId);

} // namespace AuditSyslog

// Sends the entries queued in t_audit_syslog for one station to the repository over TLS, on a
// thread of its own with its own connection, in their order; an entry leaves the queue once it
// is written to the repository. A repository that cannot be reached is tried again after 1, 2,
// 4 ... 60 s. Each network step times out after two seconds; the destructor cuts the one under
// way short.
class AuditForwarder {
public:
    AuditForwarder(const DatabaseParameters &parameters, const SyslogSettings &settings, const QString &station);
    ~AuditForwarder();
    AuditForwarder(const AuditForwarder &) = delete;
    AuditForwarder &operator=(const AuditForwarder &) = delete;

    // Any thread: new entries are queued.
    void wake();

private:
    class Connection;
    void run();
    bool sendQueued(Database &db, Connection &connection);

    const DatabaseParameters m_parameters;
    const SyslogSettings m_settings;
    const QString m_station;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    // guarded by m_mutex
    bool m_pending = true;
    bool m_stopping = false;
    // the worker's, interrupted by the destructor
    const std::unique_ptr<Connection> m_connection;
    // started last, after every member it uses
    std::thread m_worker;
};
