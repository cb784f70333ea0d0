#include "records/Database.h"

#include "core/AppError.h"
#include "core/ProgramFolder.h"
#include "records/PatientText.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlRecord>

#include <atomic>

namespace {

// The schema beside the columns the system reads and writes: `*_key` hold the case-folded
// texts that equality and prefix look-ups compare (SQLite's own folding is ASCII only), and
// `client_num` the value of an all-digit number, so the greatest number is found by value.
const char *const kSchema[] = {
    "create table if not exists t_clients ("
    " client_id text not null,"
    " client_name text, sex text, age text, client_phone text, address text,"
    " client_id_key text, client_name_key text, client_phone_key text,"
    " client_num integer)",
    "create index if not exists ix_clients_id_key on t_clients(client_id_key)",
    "create index if not exists ix_clients_name_key on t_clients(client_name_key)",
    "create index if not exists ix_clients_phone_key on t_clients(client_phone_key)",
    "create index if not exists ix_clients_num on t_clients(client_num)",
    "create table if not exists t_contents ("
    " ID integer primary key autoincrement,"
    " client_id text not null, client_id_key text,"
    " printtime text, doctor text, proposer text, title text,"
    " pic1 text, pic2 text, pic3 text, pic4 text,"
    " symptom1 text, symptom2 text, symptom3 text, symptom4 text, symptom5 text,"
    " has_treat integer not null default 0,"
    " treat1 text, treat2 text, treat3 text, treat4 text,"
    " rh real not null default 0,"
    " picY1 integer not null default 0, picY2 integer not null default 0,"
    " picY3 integer not null default 0, picY4 integer not null default 0)",
    "create index if not exists ix_contents_client on t_contents(client_id_key, ID)",
    // DICOM: each record's study (its UIDs kept, so sending again never makes a second study)
    // and the outbox of instances waiting for the PACS, one row per SOP Instance UID. Plain
    // SQL, the same on every engine; next_try is in milliseconds since the epoch.
    "create table if not exists t_dicom_studies ("
    " content_id bigint primary key,"
    " study_uid text not null, image_series_uid text not null, report_series_uid text not null,"
    " accession_number text)",
    "create table if not exists t_dicom_outbox ("
    " sop_uid text primary key,"
    " content_id bigint not null, kind text not null, slot integer not null default 0,"
    " state text not null default 'waiting',"
    " attempts integer not null default 0, next_try bigint not null default 0,"
    " last_error text, sent_at text,"
    " unique (content_id, kind, slot))",
    "create index if not exists ix_outbox_state on t_dicom_outbox(state, next_try)",
};

QString engineMessage(const QSqlError &error)
{
    QString text = error.databaseText();
    if (text.isEmpty())
        text = error.text();
    return text.trimmed();
}

} // namespace

Database::Database()
{
    static std::atomic<int> counter{0};
    m_name = QStringLiteral("examstation-%1").arg(++counter);
}

Database::~Database()
{
    close();
}

QString Database::defaultFile()
{
    return ProgramFolder::file(QStringLiteral("data/data.db"));
}

void Database::open(const QString &file)
{
    close();
    QDir().mkpath(QFileInfo(file).absolutePath());
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(file);
        // Another process on the same file waits up to this long for its lock.
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
        if (!db.open()) {
            const QString message = engineMessage(db.lastError());
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(m_name);
            throw AppError(message.isEmpty() ? QStringLiteral("Cannot open database %1").arg(file) : message);
        }
    }
    m_file = file;
    try {
        // A committed examination survives a power cut: the log is synced on every commit.
        for (const char *pragma : {"pragma journal_mode=wal", "pragma synchronous=full"}) {
            QSqlQuery query = prepare(QString::fromLatin1(pragma));
            exec(query);
            // A pragma answering a row keeps its statement live until finished, and a live
            // pragma makes the next commit fail.
            query.finish();
        }
        createSchema();
        fillMissingKeys();
    } catch (...) {
        close();
        throw;
    }
}

void Database::close()
{
    if (!QSqlDatabase::contains(m_name))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
    m_inTransaction = false;
    m_file.clear();
}

bool Database::isOpen() const
{
    return QSqlDatabase::contains(m_name) && QSqlDatabase::database(m_name, false).isOpen();
}

QSqlDatabase Database::connection() const
{
    return QSqlDatabase::database(m_name, false);
}

void Database::createSchema()
{
    ScopedTransaction transaction(*this);
    for (const char *statement : kSchema) {
        QSqlQuery query = prepare(QString::fromLatin1(statement));
        exec(query);
    }
    transaction.commit();
}

// Rows written by another program carry no keys; they are added once here so every look-up
// finds them.
void Database::fillMissingKeys()
{
    QSqlQuery clients = run(QStringLiteral("select rowid, client_id, client_name, client_phone from t_clients"
                                           " where client_id_key is null"),
                            {});
    QSqlQuery contents = run(QStringLiteral("select ID, client_id from t_contents where client_id_key is null"), {});
    QList<QVariantList> clientRows;
    while (clients.next())
        clientRows.append({clients.value(0), clients.value(1), clients.value(2), clients.value(3)});
    QList<QVariantList> contentRows;
    while (contents.next())
        contentRows.append({contents.value(0), contents.value(1)});
    clients.finish();
    contents.finish();
    if (clientRows.isEmpty() && contentRows.isEmpty())
        return;

    ScopedTransaction transaction(*this);
    for (const QVariantList &row : clientRows) {
        const QString id = row.at(1).toString();
        const std::optional<qint64> number = PatientText::numericValue(id);
        run(QStringLiteral("update t_clients set client_id_key = :k_id, client_name_key = :k_name,"
                           " client_phone_key = :k_tel, client_num = :k_num where rowid = :k_row"),
            {{":k_id", PatientText::key(id)},
             {":k_name", PatientText::key(row.at(2).toString())},
             {":k_tel", PatientText::key(row.at(3).toString())},
             {":k_num", number ? QVariant(*number) : QVariant(QMetaType(QMetaType::LongLong))},
             {":k_row", row.at(0)}});
    }
    for (const QVariantList &row : contentRows) {
        run(QStringLiteral("update t_contents set client_id_key = :k_id where ID = :k_row"),
            {{":k_id", PatientText::key(row.at(1).toString())}, {":k_row", row.at(0)}});
    }
    transaction.commit();
}

void Database::BeginTrans()
{
    QSqlQuery query = prepare(QStringLiteral("begin immediate"));
    exec(query);
    m_inTransaction = true;
}

void Database::CommitTrans()
{
    QSqlQuery query = prepare(QStringLiteral("commit"));
    exec(query);
    m_inTransaction = false;
}

void Database::RollbackTrans()
{
    m_inTransaction = false;
    QSqlQuery query = prepare(QStringLiteral("rollback"));
    exec(query);
}

QSqlQuery Database::prepare(const QString &statement) const
{
    QSqlDatabase db = connection();
    if (!db.isOpen())
        throw AppError(QStringLiteral("Database is not open"));
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.prepare(statement))
        throw AppError(engineMessage(query.lastError()));
    return query;
}

QSqlQuery Database::run(const QString &statement, std::initializer_list<Binding> bindings) const
{
    QSqlQuery query = prepare(statement);
    for (const Binding &binding : bindings) {
        // An empty field gives a null QString, which Qt binds as NULL; the system stores
        // empty text instead, so "like '%'" and equality treat it as the text it is.
        if (binding.second.typeId() == QMetaType::QString && binding.second.toString().isNull())
            query.bindValue(QString::fromLatin1(binding.first), QStringLiteral(""));
        else
            query.bindValue(QString::fromLatin1(binding.first), binding.second);
    }
    exec(query);
    return query;
}

void Database::exec(QSqlQuery &query)
{
    if (!query.exec())
        throw AppError(engineMessage(query.lastError()));
}

ScopedTransaction::ScopedTransaction(Database &db)
    : m_db(db)
{
    m_db.BeginTrans();
}

ScopedTransaction::~ScopedTransaction()
{
    if (!m_open)
        return;
    try {
        m_db.RollbackTrans();
    } catch (...) {
        // The engine already ended the transaction (a failed commit, a closed file).
    }
}

void ScopedTransaction::commit()
{
    m_db.CommitTrans();
    m_open = false;
}
