#include "records/Statements.h"

#include "records/Database.h"
#include "records/MeasurementStore.h"
#include "records/PatientText.h"

#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

namespace Statements {

const std::array<const char *, 14> kText = {
    nullptr,
    /* 1 */
    "select client_name, client_phone, sex, age, address from t_clients"
    " where client_id_key = :c_id limit 2",
    /* 2 */ "select rowid, client_id, client_id_key from t_clients where client_id_key like :c_id",
    /* 3 */ "select client_id from t_clients where client_id_key = :c_id limit 2",
    /* 4 */
    "select client_id, client_name, sex, age, client_phone, address from t_clients"
    " where client_name_key like :c_id",
    /* 5 */
    "select client_id, client_name, sex, age, client_phone, address from t_clients"
    " where client_phone_key like :c_id",
    /* 6 */ "select max(client_num) from t_clients",
    /* 7 */ "select 1 from t_clients where client_id_key = :c_id limit 1",
    /* 8 */
    "insert into t_clients (client_id, client_name, sex, age, client_phone, address,"
    " client_id_key, client_name_key, client_phone_key, client_num)"
    " values (:c_id, :c_name, :c_sex, :c_age, :c_tel, :c_addr, :c_id_key, :c_name_key,"
    " :c_tel_key, :c_num)",
    /* 9 */
    "insert into t_contents (client_id, client_id_key, printtime, doctor, proposer, title,"
    " pic1, pic2, pic3, pic4, symptom1, symptom2, symptom3, symptom4, symptom5, has_treat,"
    " treat1, treat2, treat3, treat4, rh, picY1, picY2, picY3, picY4)"
    " values (:d_cid, :d_cid_key, :d_printtime, :d_doctor, :d_proposer, :d_title,"
    " :d_pic1, :d_pic2, :d_pic3, :d_pic4, :d_symptom1, :d_symptom2, :d_symptom3,"
    " :d_symptom4, :d_symptom5, :d_has_treat, :d_treat1, :d_treat2, :d_treat3, :d_treat4,"
    " :d_rh, :d_picY1, :d_picY2, :d_picY3, :d_picY4)",
    /* 10 */
    "select ID, client_id, printtime, doctor, proposer, title, pic1, pic2, pic3, pic4,"
    " symptom1, symptom2, symptom3, symptom4, symptom5, has_treat, treat1, treat2, treat3,"
    " treat4, rh, picY1, picY2, picY3, picY4 from t_contents"
    " where client_id_key = :c_id order by ID asc",
    /* 11 */ "delete from t_contents where client_id_key = :c_id",
    /* 12 */ "delete from t_clients where client_id_key = :c_id",
    /* 13 */ "delete from t_contents where ID = :d_id",
};

namespace {

QString text(int number)
{
    return QString::fromLatin1(kText[number]);
}

// The prefix searches compare the folded pattern with the folded column. SQLite cannot use an
// index for LIKE on such a column by itself, so the literal front of the pattern also becomes
// a key range; LIKE then only checks what lies in that range.
struct PrefixSearch {
    QString pattern;
    PatientText::PrefixRange range;
};

PrefixSearch prefixSearch(const QString &typed)
{
    PrefixSearch search;
    search.pattern = PatientText::key(typed) + u'%';
    search.range = PatientText::prefixRange(search.pattern);
    return search;
}

QString rangeCondition(const char *column, const PrefixSearch &search)
{
    if (!search.range.bounded())
        return {};
    return QStringLiteral(" and %1 >= :c_low and %1 < :c_high").arg(QLatin1String(column));
}

void bindRange(QSqlQuery &query, const PrefixSearch &search)
{
    query.bindValue(QStringLiteral(":c_id"), search.pattern);
    if (search.range.bounded()) {
        query.bindValue(QStringLiteral(":c_low"), search.range.low);
        query.bindValue(QStringLiteral(":c_high"), search.range.high);
    }
}

QVariant numberValue(const QString &number)
{
    const std::optional<qint64> value = PatientText::numericValue(number);
    return value ? QVariant(*value) : QVariant(QMetaType(QMetaType::LongLong));
}

// The columns of an examination record after its ID, in statement 10's order.
const QStringList kRecordColumns = {
    QStringLiteral("client_id"), QStringLiteral("printtime"), QStringLiteral("doctor"),    QStringLiteral("proposer"),
    QStringLiteral("title"),     QStringLiteral("pic1"),      QStringLiteral("pic2"),      QStringLiteral("pic3"),
    QStringLiteral("pic4"),      QStringLiteral("symptom1"),  QStringLiteral("symptom2"),  QStringLiteral("symptom3"),
    QStringLiteral("symptom4"),  QStringLiteral("symptom5"),  QStringLiteral("has_treat"), QStringLiteral("treat1"),
    QStringLiteral("treat2"),    QStringLiteral("treat3"),    QStringLiteral("treat4"),    QStringLiteral("rh"),
    QStringLiteral("picY1"),     QStringLiteral("picY2"),     QStringLiteral("picY3"),     QStringLiteral("picY4")};

// The record of one row that holds every column of kRecordColumns.
ExamRecord examRecordOf(const QSqlRecord &row)
{
    ExamRecord record{
        .client_id = row.value(QStringLiteral("client_id")).toString(),
        .printtime = QDateTime::fromString(row.value(QStringLiteral("printtime")).toString(), kTimeFormat),
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

QVariantList columnValues(const ExamRecord &r)
{
    QVariantList values = {r.client_id, r.printtime.toString(kTimeFormat), r.doctor, r.proposer, r.title};
    for (const QString &pic : r.pic)
        values.append(pic);
    for (const QString &symptom : r.symptom)
        values.append(symptom);
    values << r.symptom5 << (r.has_treat ? 1 : 0);
    for (const QString &treat : r.treat)
        values.append(treat);
    values.append(r.rh);
    for (qint32 y : r.picY)
        values.append(y);
    return values;
}

// Whether the table holds a row equal in every given column; a text compares with a missing
// one as empty.
bool holdsRow(const Database &db, const QString &table, const QStringList &columns, const QVariantList &values)
{
    QStringList conditions;
    for (int i = 0; i < columns.size(); ++i) {
        conditions.append(values.at(i).typeId() == QMetaType::QString
                              ? QStringLiteral("coalesce(%1, '') = :v%2").arg(columns.at(i)).arg(i)
                              : QStringLiteral("%1 = :v%2").arg(columns.at(i)).arg(i));
    }
    QSqlQuery query =
        db.prepare(QStringLiteral("select 1 from %1 where %2 limit 1").arg(table, conditions.join(u" and ")));
    for (int i = 0; i < columns.size(); ++i) {
        const QVariant &value = values.at(i);
        query.bindValue(QStringLiteral(":v%1").arg(i),
                        value.typeId() == QMetaType::QString && value.toString().isNull() ? QVariant(QStringLiteral(""))
                                                                                          : value);
    }
    db.exec(query);
    return query.next();
}

} // namespace

std::optional<Patient> loadPatient(const Database &db, const QString &number)
{
    QSqlQuery query = db.run(text(1), {{":c_id", PatientText::key(number)}});
    std::optional<Patient> found;
    int rows = 0;
    while (query.next()) {
        if (++rows > 1)
            return std::nullopt;
        found = Patient{.client_id = number,
                        .client_name = query.value(0).toString(),
                        .sex = query.value(2).toString(),
                        .age = query.value(3).toString(),
                        .client_phone = query.value(1).toString(),
                        .address = query.value(4).toString()};
    }
    return found;
}

NumberPage numbersStartingWith(const Database &db, const QString &typed, int limit, const QString &afterKey,
                               qint64 afterRow)
{
    const PrefixSearch search = prefixSearch(typed);
    QString statement = text(2) + DatabaseEngine::likeEscape(db.driver()) + rangeCondition("client_id_key", search);
    if (afterRow >= 0)
        statement += QStringLiteral(" and (client_id_key, rowid) > (:c_after_key, :c_after_row)");
    statement += QStringLiteral(" order by client_id_key, rowid limit :c_limit");

    QSqlQuery query = db.prepare(statement);
    bindRange(query, search);
    if (afterRow >= 0) {
        query.bindValue(QStringLiteral(":c_after_key"), afterKey);
        query.bindValue(QStringLiteral(":c_after_row"), afterRow);
    }
    query.bindValue(QStringLiteral(":c_limit"), limit);
    db.exec(query);

    NumberPage page;
    page.lastKey = afterKey;
    page.lastRow = afterRow;
    while (query.next()) {
        page.lastRow = query.value(0).toLongLong();
        page.numbers.append(query.value(1).toString());
        page.lastKey = query.value(2).toString();
    }
    page.complete = page.numbers.size() < limit;
    return page;
}

int exactNumberCount(const Database &db, const QString &number)
{
    QSqlQuery query = db.run(text(3), {{":c_id", PatientText::key(number)}});
    int rows = 0;
    while (query.next())
        ++rows;
    return rows;
}

QList<QStringList> searchPatients(const Database &db, SearchField field, const QString &typed)
{
    const PrefixSearch search = prefixSearch(typed);
    const char *column = field == SearchField::Name ? "client_name_key" : "client_phone_key";
    // Ordered as the index holds them, so both engines give the same ten rows.
    QSqlQuery query =
        db.prepare(text(int(field)) + DatabaseEngine::likeEscape(db.driver()) + rangeCondition(column, search)
                   + QStringLiteral(" order by %1, rowid limit 10").arg(QLatin1String(column)));
    bindRange(query, search);
    db.exec(query);
    QList<QStringList> rows;
    while (query.next()) {
        QStringList row;
        for (int column = 0; column < kPatientColumns.size(); ++column)
            row.append(query.value(column).toString());
        rows.append(row);
    }
    return rows;
}

std::optional<qint64> greatestNumber(const Database &db)
{
    QSqlQuery query = db.run(text(6), {});
    if (!query.next() || query.value(0).isNull())
        return std::nullopt;
    return query.value(0).toLongLong();
}

bool patientExists(const Database &db, const QString &number)
{
    QSqlQuery query = db.run(text(7), {{":c_id", PatientText::key(number)}});
    return query.next();
}

void insertPatient(const Database &db, const Patient &patient)
{
    db.run(text(8),
           {{":c_id", patient.client_id},
            {":c_name", patient.client_name},
            {":c_sex", patient.sex},
            {":c_age", patient.age},
            {":c_tel", patient.client_phone},
            {":c_addr", patient.address},
            {":c_id_key", PatientText::key(patient.client_id)},
            {":c_name_key", PatientText::key(patient.client_name)},
            {":c_tel_key", PatientText::key(patient.client_phone)},
            {":c_num", numberValue(patient.client_id)}});
}

qint64 insertExamRecord(const Database &db, const ExamRecord &r)
{
    QSqlQuery query = db.run(text(9),
                             {{":d_cid", r.client_id},
                              {":d_cid_key", PatientText::key(r.client_id)},
                              {":d_printtime", r.printtime.toString(kTimeFormat)},
                              {":d_doctor", r.doctor},
                              {":d_proposer", r.proposer},
                              {":d_title", r.title},
                              {":d_pic1", r.pic[0]},
                              {":d_pic2", r.pic[1]},
                              {":d_pic3", r.pic[2]},
                              {":d_pic4", r.pic[3]},
                              {":d_symptom1", r.symptom[0]},
                              {":d_symptom2", r.symptom[1]},
                              {":d_symptom3", r.symptom[2]},
                              {":d_symptom4", r.symptom[3]},
                              {":d_symptom5", r.symptom5},
                              {":d_has_treat", r.has_treat ? 1 : 0},
                              {":d_treat1", r.treat[0]},
                              {":d_treat2", r.treat[1]},
                              {":d_treat3", r.treat[2]},
                              {":d_treat4", r.treat[3]},
                              {":d_rh", r.rh},
                              {":d_picY1", r.picY[0]},
                              {":d_picY2", r.picY[1]},
                              {":d_picY3", r.picY[2]},
                              {":d_picY4", r.picY[3]}});
    return query.lastInsertId().toLongLong();
}

std::optional<ExamRecord> loadExamRecord(const Database &db, qint64 id)
{
    QSqlQuery query = db.run(
        QStringLiteral("select %1 from t_contents where ID = :d_id").arg(kRecordColumns.join(QStringLiteral(", "))),
        {{":d_id", id}});
    if (!query.next())
        return std::nullopt;
    return examRecordOf(query.record());
}

QList<qint64> examRecordIds(const Database &db, const QString &number)
{
    QSqlQuery query = number.isEmpty()
        ? db.run(QStringLiteral("select ID from t_contents order by ID"), {})
        : db.run(QStringLiteral("select ID from t_contents where client_id_key = :c_id order by ID"),
                 {{":c_id", PatientText::key(number)}});
    QList<qint64> ids;
    while (query.next())
        ids.append(query.value(0).toLongLong());
    return ids;
}

QList<Patient> allPatients(const Database &db)
{
    QSqlQuery query = db.run(
        QStringLiteral("select %1 from t_clients order by rowid").arg(kPatientColumns.join(QStringLiteral(", "))), {});
    QList<Patient> patients;
    while (query.next()) {
        patients.append({.client_id = query.value(0).toString(),
                         .client_name = query.value(1).toString(),
                         .sex = query.value(2).toString(),
                         .age = query.value(3).toString(),
                         .client_phone = query.value(4).toString(),
                         .address = query.value(5).toString()});
    }
    return patients;
}

QList<ExamRecord> allExamRecords(const Database &db)
{
    QSqlQuery query = db.run(
        QStringLiteral("select %1 from t_contents order by ID").arg(kRecordColumns.join(QStringLiteral(", "))), {});
    QList<ExamRecord> records;
    while (query.next())
        records.append(examRecordOf(query.record()));
    return records;
}

bool holdsPatient(const Database &db, const Patient &p)
{
    return holdsRow(db, QStringLiteral("t_clients"), kPatientColumns,
                    {p.client_id, p.client_name, p.sex, p.age, p.client_phone, p.address});
}

bool holdsExamRecord(const Database &db, const ExamRecord &record)
{
    return holdsRow(db, QStringLiteral("t_contents"), kRecordColumns, columnValues(record));
}

void lockPatientNumbers(const Database &db)
{
    for (const QString &statement : DatabaseEngine::lockPatientNumbers(db.parameters()))
        db.execute(statement);
}

void storePicture(const Database &db, const QString &name, const QByteArray &jpeg)
{
    // A picture saved again under its name (turned, greyed) replaces the stored one, as its
    // file does.
    db.run(QStringLiteral("insert into t_pictures (name, jpeg) values (:p_name, :p_jpeg)"
                          " on conflict (name) do update set jpeg = excluded.jpeg"),
           {{":p_name", name}, {":p_jpeg", jpeg}});
}

std::optional<QByteArray> loadPicture(const Database &db, const QString &name)
{
    QSqlQuery query = db.run(QStringLiteral("select jpeg from t_pictures where name = :p_name"), {{":p_name", name}});
    if (!query.next())
        return std::nullopt;
    return query.value(0).toByteArray();
}

bool picturesInDatabase(const Database &db)
{
    return db.parameters().isServer();
}

void deleteExamRecords(const Database &db, const QString &number)
{
    // Instances of these records not yet delivered to the PACS are never sent.
    db.run(QStringLiteral("delete from t_dicom_outbox where state <> 'sent' and content_id in"
                          " (select ID from t_contents where client_id_key = :c_id)"),
           {{":c_id", PatientText::key(number)}});
    MeasurementStore::deleteOfPatient(db, PatientText::key(number));
    db.run(text(11), {{":c_id", PatientText::key(number)}});
}

void deletePatient(const Database &db, const QString &number)
{
    db.run(text(12), {{":c_id", PatientText::key(number)}});
}

void deleteExamRecord(const Database &db, qint64 id)
{
    db.run(text(13), {{":d_id", id}});
    MeasurementStore::deleteOfRecord(db, id);
    db.run(QStringLiteral("delete from t_dicom_outbox where content_id = :d_id and state <> 'sent'"), {{":d_id", id}});
}

} // namespace Statements
