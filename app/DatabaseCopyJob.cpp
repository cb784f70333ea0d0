#include "app/DatabaseCopyJob.h"

#include "app/JobProgress.h"
#include "core/AppError.h"
#include "core/ProgramFolder.h"
#include "core/SafeFile.h"
#include "core/inifunc.h"
#include "records/Database.h"
#include "records/Statements.h"

#include <QFileInfo>
#include <QSet>
#include <QSqlQuery>
#include <QSqlRecord>

namespace {

const QStringList kPatientColumns = {QStringLiteral("client_id"),    QStringLiteral("client_name"),
                                     QStringLiteral("sex"),          QStringLiteral("age"),
                                     QStringLiteral("client_phone"), QStringLiteral("address")};
const QStringList kRecordColumns = {
    QStringLiteral("client_id"), QStringLiteral("printtime"), QStringLiteral("doctor"),    QStringLiteral("proposer"),
    QStringLiteral("title"),     QStringLiteral("pic1"),      QStringLiteral("pic2"),      QStringLiteral("pic3"),
    QStringLiteral("pic4"),      QStringLiteral("symptom1"),  QStringLiteral("symptom2"),  QStringLiteral("symptom3"),
    QStringLiteral("symptom4"),  QStringLiteral("symptom5"),  QStringLiteral("has_treat"), QStringLiteral("treat1"),
    QStringLiteral("treat2"),    QStringLiteral("treat3"),    QStringLiteral("treat4"),    QStringLiteral("rh"),
    QStringLiteral("picY1"),     QStringLiteral("picY2"),     QStringLiteral("picY3"),     QStringLiteral("picY4")};

QList<QSqlRecord> readAll(const Database &db, const QString &statement)
{
    QSqlQuery query = db.run(statement, {});
    QList<QSqlRecord> rows;
    while (query.next())
        rows.append(query.record());
    return rows;
}

// Whether the server holds a row equal in every given column (missing text counts as empty).
bool alreadyThere(const Database &server, const QString &table, const QStringList &columns, const QSqlRecord &row)
{
    QStringList conditions;
    for (int i = 0; i < columns.size(); ++i) {
        const QVariant value = row.value(columns.at(i));
        const bool text = value.typeId() == QMetaType::QString || value.isNull();
        conditions.append(text ? QStringLiteral("coalesce(%1, '') = :v%2").arg(columns.at(i)).arg(i)
                               : QStringLiteral("%1 = :v%2").arg(columns.at(i)).arg(i));
    }
    QSqlQuery query =
        server.prepare(QStringLiteral("select 1 from %1 where %2 limit 1").arg(table, conditions.join(u" and ")));
    for (int i = 0; i < columns.size(); ++i) {
        const QVariant value = row.value(columns.at(i));
        query.bindValue(QStringLiteral(":v%1").arg(i), value.isNull() ? QVariant(QStringLiteral("")) : value);
    }
    server.exec(query);
    return query.next();
}

Statements::ExamRecord recordOf(const QSqlRecord &row)
{
    Statements::ExamRecord record{
        .client_id = row.value(QStringLiteral("client_id")).toString(),
        .printtime = QDateTime::fromString(row.value(QStringLiteral("printtime")).toString(), Statements::kTimeFormat),
        .doctor = row.value(QStringLiteral("doctor")).toString(),
        .proposer = row.value(QStringLiteral("proposer")).toString(),
        .title = row.value(QStringLiteral("title")).toString(),
        .symptom5 = row.value(QStringLiteral("symptom5")).toString(),
        .has_treat = row.value(QStringLiteral("has_treat")).toLongLong() != 0,
        .rh = row.value(QStringLiteral("rh")).toDouble(),
    };
    for (int i = 0; i < 4; ++i) {
        record.pic[i] = row.value(QStringLiteral("pic%1").arg(i + 1)).toString();
        record.symptom[i] = row.value(QStringLiteral("symptom%1").arg(i + 1)).toString();
        record.treat[i] = row.value(QStringLiteral("treat%1").arg(i + 1)).toString();
        record.picY[i] = row.value(QStringLiteral("picY%1").arg(i + 1)).toInt();
    }
    return record;
}

} // namespace

int copyDatabaseToServer()
{
    SetConfigFolder(ProgramFolder::path());
    const DatabaseParameters target = DatabaseParameters::fromConfig();
    if (!target.isServer())
        return jobFailed(QStringLiteral("config.ini names no PostgreSQL server: set driver=postgresql and "
                                        "connection= in its [database] section."),
                         JobExit::kCannotRun);
    const QString file = Database::defaultFile();
    if (!QFileInfo(file).isFile())
        return jobFailed(QStringLiteral("There is no local database %1 to copy.").arg(file), JobExit::kCannotRun);
    try {
        Database local;
        local.open(file);
        Database server;
        server.open(target);
        const QString images = ProgramFolder::file(QStringLiteral("images/"));

        int patients = 0, patientsThere = 0, sharedNumbers = 0, records = 0, recordsThere = 0, pictures = 0,
            picturesMissing = 0;
        const QList<QSqlRecord> localPatients =
            readAll(local,
                    QStringLiteral("select client_id, client_name, sex, age, client_phone, address"
                                   " from t_clients order by rowid"));
        const QList<QSqlRecord> localRecords = readAll(
            local,
            QStringLiteral("select %1 from t_contents order by ID").arg(kRecordColumns.join(QStringLiteral(", "))));
        QSet<QString> names;
        for (const QSqlRecord &row : localRecords) {
            for (int i = 1; i <= 4; ++i)
                names.insert(row.value(QStringLiteral("pic%1").arg(i)).toString());
        }
        names.remove(QString());
        // Patients, records and pictures are one count: the pictures take most of the time.
        JobProgress progress(QStringLiteral("copying"));
        const qsizetype steps = localPatients.size() + localRecords.size() + names.size();
        qsizetype done = 0;

        ScopedTransaction transaction(server);
        // No workstation stores a new number while the room's patients arrive.
        Statements::lockPatientNumbers(server);
        for (const QSqlRecord &row : localPatients) {
            progress.show(done++, steps);
            if (alreadyThere(server, QStringLiteral("t_clients"), kPatientColumns, row)) {
                ++patientsThere;
                continue;
            }
            const QString number = row.value(0).toString();
            if (Statements::patientExists(server, number))
                ++sharedNumbers;
            Statements::insertPatient(server,
                                      {.client_id = number,
                                       .client_name = row.value(1).toString(),
                                       .sex = row.value(2).toString(),
                                       .age = row.value(3).toString(),
                                       .client_phone = row.value(4).toString(),
                                       .address = row.value(5).toString()});
            ++patients;
        }
        for (const QSqlRecord &row : localRecords) {
            progress.show(done++, steps);
            if (alreadyThere(server, QStringLiteral("t_contents"), kRecordColumns, row)) {
                ++recordsThere;
                continue;
            }
            Statements::insertExamRecord(server, recordOf(row));
            ++records;
        }
        for (const QString &name : std::as_const(names)) {
            progress.show(done++, steps);
            if (Statements::loadPicture(server, name))
                continue;
            QByteArray jpeg;
            QString reason;
            if (!QFileInfo(images + name).isFile() || !SafeFile::readFile(images + name, &jpeg, &reason)
                || jpeg.isEmpty()) {
                ++picturesMissing;
                continue;
            }
            Statements::storePicture(server, name, jpeg);
            ++pictures;
        }
        progress.show(done, steps);
        transaction.commit();

        jobSays(QStringLiteral("Copied to %1:").arg(target.describe()));
        jobSays(QStringLiteral("  patients: %1 copied, %2 already there").arg(patients).arg(patientsThere));
        jobSays(QStringLiteral("  examination records: %1 copied, %2 already there").arg(records).arg(recordsThere));
        jobSays(QStringLiteral("  pictures: %1 copied, %2 not in %3").arg(pictures).arg(picturesMissing).arg(images));
        if (sharedNumbers > 0)
            jobSays(QStringLiteral("  %1 copied patients have a number that another patient on the server holds "
                                   "too; look them up by name.")
                        .arg(sharedNumbers));
        return JobExit::kDone;
    } catch (const AppError &error) {
        return jobFailed(QStringLiteral("Copying the records failed; nothing was copied: %1").arg(error.message()));
    }
}

CommandLineJob databaseCopyJob()
{
    return {
        .options = {QCommandLineOption(
            QStringLiteral("copy-database-to-server"),
            QStringLiteral(
                "Copy the local records and pictures into the PostgreSQL database of config.ini, then exit."))},
        .paints = false,
        .run = [](const QCommandLineParser &) { return copyDatabaseToServer(); },
    };
}
