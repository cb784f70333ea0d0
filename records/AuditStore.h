#pragma once

#include <QList>
#include <QString>

#include <functional>

class Database;

// One entry of the audit trail as stored in t_audit: appended, never updated or deleted.
struct AuditEntry {
    qint64 id = 0; // 1, 2, 3 ... without gaps, handed out under the table's lock
    QString at; // UTC with milliseconds, "2026-12-10T13:45:01.250Z"
    QString operatorName;
    QString host;
    QString aeTitle;
    QString event; // this system's name (Audit::Codes::name)
    QString eventId; // DICOM audit event ID, e.g. "110110"
    QString eventType; // event type code, or empty
    QString action; // C, R, U, D or E
    QString patient; // patient number, or empty
    int outcome = 0; // 0, 4, 8 or 12
    QString hash; // SHA-256 (hex) over the previous entry's hash and this entry's content
};

// The statements of the audit trail. Each entry's hash chains it to the one before, so an entry
// changed, removed or inserted behind the program's back breaks the chain where it happened.
// Any thread, on that thread's own Database.
namespace AuditStore {

// The hash the first entry chains to.
QString firstPreviousHash();
QString chainHash(const QString &previousHash, const AuditEntry &entry);

// Appends the entries in one transaction, giving each its ID and hash (written back into
// them). On a server the table is locked meanwhile, so rooms appending at once keep one chain.
// With a station named, each entry is also queued for the audit repository under that name.
void append(Database &db, QList<AuditEntry> &entries, const QString &syslogStation = QString());

// The entries the station queued for the audit repository, oldest first, at most limit of them.
QList<AuditEntry> queuedForSyslog(Database &db, const QString &station, int limit);
// Takes the entries with these IDs off the queue: the repository has them.
void sentToSyslog(Database &db, const QList<qint64> &ids);

struct Filter {
    QString from; // first day, "yyyy-MM-dd", or empty
    QString to; // last day, included, or empty
    QString patient; // or empty
};
// Calls each entry matching the filter in the trail's order.
void list(Database &db, const Filter &filter, const std::function<void(const AuditEntry &)> &each);

struct Check {
    bool intact = true;
    qint64 entries = 0; // entries read
    qint64 row = 0; // the first entry found changed, removed or inserted
    QString what; // "changed", "removed" or "inserted"
};
// Reads the whole trail once and names the first break of its chain.
Check verify(Database &db);

} // namespace AuditStore
