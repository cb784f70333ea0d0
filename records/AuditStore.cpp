#include "records/AuditStore.h"

#include "core/AppError.h"
#include "records/Database.h"
#include "records/DatabaseEngine.h"

#include <QDate>
#include <QSqlQuery>

#include <openssl/evp.h>

#include <optional>

namespace AuditStore {
namespace {

const QString kColumns =
    QStringLiteral("id, at, operator, host, ae_title, event, event_id, event_type, action, patient, outcome, hash");

AuditEntry entryAt(const QSqlQuery &query)
{
    return AuditEntry{
        .id = query.value(0).toLongLong(),
        .at = query.value(1).toString(),
        .operatorName = query.value(2).toString(),
        .host = query.value(3).toString(),
        .aeTitle = query.value(4).toString(),
        .event = query.value(5).toString(),
        .eventId = query.value(6).toString(),
        .eventType = query.value(7).toString(),
        .action = query.value(8).toString(),
        .patient = query.value(9).toString(),
        .outcome = query.value(10).toInt(),
        .hash = query.value(11).toString(),
    };
}

} // namespace

QString firstPreviousHash()
{
    return QString(64, u'0');
}

// The ID is not part of the content: the order is the chain's, so an entry inserted between
// two others is told apart from a changed one by the next entry still chaining to the one before.
QString chainHash(const QString &previousHash, const AuditEntry &entry)
{
    const QChar separator(0x1f);
    const QString content = previousHash + separator + entry.at + separator + entry.operatorName + separator
        + entry.host + separator + entry.aeTitle + separator + entry.event + separator + entry.eventId + separator
        + entry.eventType + separator + entry.action + separator + entry.patient + separator
        + QString::number(entry.outcome);
    const QByteArray bytes = content.toUtf8();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes.constData(), static_cast<size_t>(bytes.size()), digest, &length, EVP_sha256(), nullptr) != 1)
        throw AppError(QStringLiteral("SHA-256 is not available"));
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(digest), static_cast<int>(length)).toHex());
}

void append(Database &db, QList<AuditEntry> &entries, const QString &syslogStation)
{
    if (entries.isEmpty())
        return;
    ScopedTransaction transaction(db);
    if (const QString lock = DatabaseEngine::lockAuditTrail(db.driver()); !lock.isEmpty())
        db.execute(lock);
    qint64 id = 0;
    QString previous = firstPreviousHash();
    {
        QSqlQuery last = db.run(QStringLiteral("select id, hash from t_audit order by id desc limit 1"), {});
        if (last.next()) {
            id = last.value(0).toLongLong();
            previous = last.value(1).toString();
        }
        last.finish();
    }
    const QString insert = QStringLiteral("insert into t_audit (") + kColumns
        + QStringLiteral(") values (:k_id, :k_at, :k_operator, :k_host, :k_ae, :k_event, :k_event_id,"
                         " :k_event_type, :k_action, :k_patient, :k_outcome, :k_hash)");
    for (AuditEntry &entry : entries) {
        entry.id = ++id;
        entry.hash = chainHash(previous, entry);
        previous = entry.hash;
        db.run(insert,
               {{":k_id", entry.id},
                {":k_at", entry.at},
                {":k_operator", entry.operatorName},
                {":k_host", entry.host},
                {":k_ae", entry.aeTitle},
                {":k_event", entry.event},
                {":k_event_id", entry.eventId},
                {":k_event_type", entry.eventType},
                {":k_action", entry.action},
                {":k_patient", entry.patient},
                {":k_outcome", entry.outcome},
                {":k_hash", entry.hash}});
        if (!syslogStation.isEmpty())
            db.run(QStringLiteral("insert into t_audit_syslog (audit_id, station) values (:k_id, :k_station)"),
                   {{":k_id", entry.id}, {":k_station", syslogStation}});
    }
    transaction.commit();
}

QList<AuditEntry> queuedForSyslog(Database &db, const QString &station, int limit)
{
    QString columns = kColumns;
    columns.replace(QStringLiteral(", "), QStringLiteral(", a."));
    QSqlQuery query = db.run(QStringLiteral("select a.") + columns
                                 + QStringLiteral(" from t_audit_syslog q join t_audit a on a.id = q.audit_id"
                                                  " where q.station = :k_station order by q.audit_id limit :k_limit"),
                             {{":k_station", station}, {":k_limit", limit}});
    QList<AuditEntry> entries;
    while (query.next())
        entries.append(entryAt(query));
    query.finish();
    return entries;
}

void sentToSyslog(Database &db, const QList<qint64> &ids)
{
    ScopedTransaction transaction(db);
    for (const qint64 id : ids)
        db.run(QStringLiteral("delete from t_audit_syslog where audit_id = :k_id"), {{":k_id", id}});
    transaction.commit();
}

void list(Database &db, const Filter &filter, const std::function<void(const AuditEntry &)> &each)
{
    // The times are ISO texts in UTC, so a day's range compares as text.
    const QString from = filter.from.isEmpty() ? QString() : filter.from;
    const QString before = filter.to.isEmpty()
        ? QStringLiteral("~")
        : QDate::fromString(filter.to, Qt::ISODate).addDays(1).toString(Qt::ISODate);
    QSqlQuery query = db.run(QStringLiteral("select ") + kColumns
                                 + QStringLiteral(" from t_audit where at >= :k_from and at < :k_before"
                                                  " and (:k_any = 1 or patient = :k_patient) order by id"),
                             {{":k_from", from},
                              {":k_before", before},
                              {":k_any", filter.patient.isEmpty() ? 1 : 0},
                              {":k_patient", filter.patient}});
    while (query.next())
        each(entryAt(query));
    query.finish();
}

Check verify(Database &db)
{
    QSqlQuery query = db.run(QStringLiteral("select ") + kColumns + QStringLiteral(" from t_audit order by id"), {});
    Check check;
    QString previous = firstPreviousHash();
    qint64 expectedId = 1;
    std::optional<AuditEntry> suspect; // an entry that does not chain, judged by the one after it
    const auto broken = [&check](qint64 row, const char *what) {
        check.intact = false;
        check.row = row;
        check.what = QString::fromLatin1(what);
    };
    while (query.next()) {
        const AuditEntry entry = entryAt(query);
        ++check.entries;
        if (suspect) {
            // The entry after a broken link still chaining to the one before the suspect means
            // the suspect was put in between; otherwise the suspect itself was changed.
            broken(suspect->id, chainHash(previous, entry) == entry.hash ? "inserted" : "changed");
            break;
        }
        if (entry.id != expectedId) {
            broken(expectedId, "removed");
            break;
        }
        if (chainHash(previous, entry) != entry.hash) {
            suspect = entry;
            continue;
        }
        previous = entry.hash;
        ++expectedId;
    }
    if (suspect && check.intact)
        broken(suspect->id, "changed");
    query.finish();
    return check;
}

} // namespace AuditStore
