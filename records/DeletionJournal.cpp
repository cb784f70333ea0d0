#include "records/DeletionJournal.h"

#include "core/AppError.h"
#include "records/Database.h"
#include "records/Logging.h"
#include "records/MeasurementStore.h"
#include "records/PatientText.h"
#include "records/Statements.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlRecord>

namespace DeletionJournal {
namespace {

const char *const kPictureColumns[] = {"pic1", "pic2", "pic3", "pic4"};

// Every column of every row, by column name; numbers stay numbers, empty stays apart from null.
QJsonArray rows(QSqlQuery &query)
{
    QJsonArray result;
    while (query.next()) {
        const QSqlRecord record = query.record();
        QJsonObject row;
        for (int i = 0; i < record.count(); ++i)
            row.insert(record.fieldName(i), QJsonValue::fromVariant(query.value(i)));
        result.append(row);
    }
    return result;
}

QString placeholders(const QString &name)
{
    QStringList columns;
    for (int slot = 1; slot <= 4; ++slot)
        columns << QStringLiteral("pic%1 = :%2%1").arg(slot).arg(name);
    return columns.join(QStringLiteral(" or "));
}

// The pictures of the deleted rows that no remaining record names: a picture saved again
// unchanged is shared by the records of one patient.
QStringList unreferencedPictures(const Database &db, const QJsonArray &contents)
{
    QStringList pictures;
    for (const QJsonValue &row : contents) {
        for (const char *column : kPictureColumns) {
            const QString name = row[QLatin1String(column)].toString();
            if (name.isEmpty() || pictures.contains(name))
                continue;
            QSqlQuery query = db.prepare(QStringLiteral("select 1 from t_contents where ") + placeholders("p")
                                         + QStringLiteral(" limit 1"));
            for (int slot = 1; slot <= 4; ++slot)
                query.bindValue(QStringLiteral(":p%1").arg(slot), name);
            db.exec(query);
            if (!query.next())
                pictures << name;
        }
    }
    return pictures;
}

qint64 journal(const Database &db, const QString &kind, const QJsonObject &patient, const QJsonObject &content,
               int records, const QStringList &pictures)
{
    // The engine hands out the ID, so two rooms deleting at once never take the same one.
    QSqlQuery insert = db.run(
        QStringLiteral("insert into t_deleted (deleted_at, kind, client_id, client_name, records, content, pictures)"
                       " values (:at, :kind, :c_id, :c_name, :records, :content, :pictures)"),
        {{":at", QDateTime::currentDateTime().toString(Statements::kTimeFormat)},
         {":kind", kind},
         {":c_id", patient[QLatin1String("client_id")].toString()},
         {":c_name", patient[QLatin1String("client_name")].toString()},
         {":records", records},
         {":content", QString::fromUtf8(QJsonDocument(content).toJson(QJsonDocument::Compact))},
         {":pictures", pictures.join(u'\n')}});
    return insert.lastInsertId().toLongLong();
}

void insertRows(const Database &db, const QString &table, const QJsonArray &rows)
{
    const QSqlRecord columns = db.connection().record(table);
    for (const QJsonValue &value : rows) {
        const QJsonObject row = value.toObject();
        QStringList names;
        QStringList marks;
        for (auto it = row.begin(); it != row.end(); ++it) {
            // Column names come from the journal; only the table's own columns are accepted.
            if (columns.indexOf(it.key()) < 0)
                throw AppError(QStringLiteral("The deleted entry names an unknown column %1.").arg(it.key()));
            names << it.key();
            marks << QStringLiteral(":v%1").arg(marks.size());
        }
        QSqlQuery query =
            db.prepare(QStringLiteral("insert into %1 (%2) values (%3)")
                           .arg(table, names.join(QStringLiteral(", ")), marks.join(QStringLiteral(", "))));
        int i = 0;
        for (auto it = row.begin(); it != row.end(); ++it, ++i)
            query.bindValue(marks[i], it.value().toVariant());
        db.exec(query);
    }
}

QString deletedFolder(const QString &imagesFolder, qint64 id)
{
    return QDir(imagesFolder).filePath(QStringLiteral("deleted/%1").arg(id));
}
} // namespace

qint64 deletePatient(const Database &db, const QString &number)
{
    const QString key = PatientText::key(number);
    QSqlQuery clients = db.run(QStringLiteral("select * from t_clients where client_id_key = :c_id"), {{":c_id", key}});
    const QJsonArray patients = rows(clients);
    if (patients.isEmpty())
        return 0;
    QSqlQuery contents =
        db.run(QStringLiteral("select * from t_contents where client_id_key = :c_id order by ID"), {{":c_id", key}});
    const QJsonArray records = rows(contents);
    QSqlQuery lengths = db.run(MeasurementStore::selectOfPatient(), {{":c_id", key}});
    const QJsonArray measurements = rows(lengths);
    Statements::deleteExamRecords(db, number);
    Statements::deletePatient(db, number);
    return journal(db, QStringLiteral("patient"), patients.first().toObject(),
                   {{QStringLiteral("t_clients"), patients},
                    {QStringLiteral("t_contents"), records},
                    {QStringLiteral("t_measurements"), measurements}},
                   int(records.size()), unreferencedPictures(db, records));
}

qint64 deleteRecord(const Database &db, qint64 recordId)
{
    QSqlQuery contents = db.run(QStringLiteral("select * from t_contents where ID = :d_id"), {{":d_id", recordId}});
    const QJsonArray records = rows(contents);
    if (records.isEmpty())
        return 0;
    QSqlQuery lengths = db.run(MeasurementStore::selectOfRecord(), {{":d_id", recordId}});
    const QJsonArray measurements = rows(lengths);
    Statements::deleteExamRecord(db, recordId);
    return journal(db, QStringLiteral("record"), records.first().toObject(),
                   {{QStringLiteral("t_contents"), records}, {QStringLiteral("t_measurements"), measurements}}, 1,
                   unreferencedPictures(db, records));
}

void movePicturesAway(const Database &db, qint64 id, const QString &imagesFolder)
{
    QSqlQuery query = db.run(QStringLiteral("select pictures from t_deleted where ID = :id"), {{":id", id}});
    if (!query.next())
        return;
    const QStringList pictures = query.value(0).toString().split(u'\n', Qt::SkipEmptyParts);
    if (pictures.isEmpty())
        return;
    const QDir images(imagesFolder);
    const QDir target(deletedFolder(imagesFolder, id));
    QDir().mkpath(target.path());
    for (const QString &name : pictures) {
        if (images.exists(name) && !QFile::rename(images.filePath(name), target.filePath(name)))
            qCWarning(lcRecords, "a picture of deleted entry %lld stays in images/", id);
    }
}

QList<Entry> list(const Database &db)
{
    QSqlQuery query = db.run(
        QStringLiteral("select ID, deleted_at, kind, client_id, client_name, records from t_deleted order by ID"), {});
    QList<Entry> entries;
    while (query.next()) {
        entries.append(Entry{
            .id = query.value(0).toLongLong(),
            .deletedAt = QDateTime::fromString(query.value(1).toString(), Statements::kTimeFormat),
            .kind = query.value(2).toString(),
            .number = query.value(3).toString(),
            .name = query.value(4).toString(),
            .records = query.value(5).toInt(),
        });
    }
    return entries;
}

QString restore(Database &db, qint64 id, const QString &imagesFolder)
{
    QStringList pictures;
    QString said;
    {
        ScopedTransaction transaction(db);
        QSqlQuery query = db.run(
            QStringLiteral("select kind, client_id, content, pictures from t_deleted where ID = :id"), {{":id", id}});
        if (!query.next())
            throw AppError(QStringLiteral("There is no deleted entry %1.").arg(id));
        const QString kind = query.value(0).toString();
        const QString number = query.value(1).toString();
        const QJsonObject content = QJsonDocument::fromJson(query.value(2).toString().toUtf8()).object();
        pictures = query.value(3).toString().split(u'\n', Qt::SkipEmptyParts);
        const QJsonArray records = content[QLatin1String("t_contents")].toArray();

        const bool patient = kind == QLatin1String("patient");
        if (patient && Statements::patientExists(db, number))
            throw AppError(
                QStringLiteral("Patient number %1 is in use again; entry %2 was not put back.").arg(number).arg(id));
        if (!patient && !Statements::patientExists(db, number))
            throw AppError(
                QStringLiteral("The patient %1 of entry %2 is not in the database; put the patient back first.")
                    .arg(number)
                    .arg(id));
        for (const QJsonValue &record : records) {
            const qint64 recordId = record[QLatin1String("ID")].toInteger();
            QSqlQuery taken =
                db.run(QStringLiteral("select 1 from t_contents where ID = :d_id"), {{":d_id", recordId}});
            if (taken.next())
                throw AppError(
                    QStringLiteral("Record %1 is in use again; entry %2 was not put back.").arg(recordId).arg(id));
        }
        if (patient)
            insertRows(db, QStringLiteral("t_clients"), content[QLatin1String("t_clients")].toArray());
        insertRows(db, QStringLiteral("t_contents"), records);
        // An entry journalled before measurements were kept has none.
        insertRows(db, QStringLiteral("t_measurements"), content[QLatin1String("t_measurements")].toArray());
        db.run(QStringLiteral("delete from t_deleted where ID = :id"), {{":id", id}});
        transaction.commit();
        said = patient
            ? QStringLiteral("Put back patient %1 with %2 examination record(s).").arg(number).arg(records.size())
            : QStringLiteral("Put back an examination record of patient %1.").arg(number);
    }
    const QDir images(imagesFolder);
    QDir source(deletedFolder(imagesFolder, id));
    for (const QString &name : pictures) {
        if (source.exists(name) && !images.exists(name) && !QFile::rename(source.filePath(name), images.filePath(name)))
            qCWarning(lcRecords, "a picture of deleted entry %lld stays in images/deleted/", id);
    }
    source.rmdir(source.path());
    return said;
}

int purge(Database &db, int days, const QString &imagesFolder)
{
    const QString cutoff = QDateTime::currentDateTime().addDays(-days).toString(Statements::kTimeFormat);
    QList<qint64> gone;
    {
        ScopedTransaction transaction(db);
        QSqlQuery query = db.run(QStringLiteral("select ID from t_deleted where deleted_at < :at"), {{":at", cutoff}});
        while (query.next())
            gone << query.value(0).toLongLong();
        db.run(QStringLiteral("delete from t_deleted where deleted_at < :at"), {{":at", cutoff}});
        transaction.commit();
    }
    for (qint64 id : gone)
        QDir(deletedFolder(imagesFolder, id)).removeRecursively();
    return int(gone.size());
}

} // namespace DeletionJournal
