#include "app/AuditJob.h"

#include "core/Audit.h"
#include "records/AuditStore.h"
#include "records/Database.h"

#include <QDate>

CommandLineJob verifyAuditJob()
{
    const QCommandLineOption verify(
        QStringLiteral("verify-audit"),
        QStringLiteral("Check that no entry of the audit trail was changed, removed or inserted."));
    return CommandLineJob{
        .options = {verify},
        .run =
            [](const QCommandLineParser &) {
                Database db;
                db.open();
                const AuditStore::Check check = AuditStore::verify(db);
                Audit::record(Audit::Event::AuditRead, QString(),
                              check.intact ? Audit::Outcome::Success : Audit::Outcome::MinorFailure);
                if (!check.intact)
                    return jobFailed(QStringLiteral("the audit trail was tampered with: entry %1 was %2")
                                         .arg(check.row)
                                         .arg(check.what));
                jobSays(QStringLiteral("the audit trail is whole: %1 entries").arg(check.entries));
                return JobExit::kDone;
            },
    };
}

CommandLineJob auditJob()
{
    const QCommandLineOption audit(QStringLiteral("audit"),
                                   QStringLiteral("Print the audit trail's entries, tab-separated, one per line."));
    const QCommandLineOption from(QStringLiteral("from"), QStringLiteral("With --audit: from this day (YYYY-MM-DD)."),
                                  QStringLiteral("DATE"));
    const QCommandLineOption to(QStringLiteral("to"),
                                QStringLiteral("With --audit: up to this day, included (YYYY-MM-DD)."),
                                QStringLiteral("DATE"));
    const QCommandLineOption patient(QStringLiteral("patient"),
                                     QStringLiteral("With --audit: only the entries of this patient number."),
                                     QStringLiteral("NUMBER"));
    return CommandLineJob{
        .options = {audit, from, to, patient},
        .run =
            [from, to, patient](const QCommandLineParser &parser) {
                AuditStore::Filter filter{.patient = parser.value(patient).trimmed()};
                for (const auto &[option, day] : {std::pair{from, &filter.from}, std::pair{to, &filter.to}}) {
                    const QString value = parser.value(option).trimmed();
                    if (!value.isEmpty() && !QDate::fromString(value, Qt::ISODate).isValid())
                        return jobFailed(QStringLiteral("--%1 needs a day as YYYY-MM-DD, not \"%2\".")
                                             .arg(option.names().first(), value),
                                         JobExit::kCannotRun);
                    *day = value;
                }
                Database db;
                db.open();
                AuditStore::list(db, filter, [](const AuditEntry &entry) {
                    QStringList fields{QString::number(entry.id),
                                       entry.at,
                                       entry.operatorName,
                                       entry.host,
                                       entry.aeTitle,
                                       entry.event,
                                       entry.eventId,
                                       entry.eventType,
                                       entry.action,
                                       entry.patient,
                                       QString::number(entry.outcome)};
                    // One entry stays one line of columns whatever a name holds.
                    for (QString &field : fields)
                        field.replace(u'\t', u' ').replace(u'\n', u' ');
                    jobSays(fields.join(u'\t'));
                });
                Audit::record(Audit::Event::AuditRead, filter.patient);
                return JobExit::kDone;
            },
    };
}
