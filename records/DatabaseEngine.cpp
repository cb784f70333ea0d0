#include "records/DatabaseEngine.h"

#include "core/ProgramFolder.h"
#include "core/inifunc.h"

namespace {

const QString kSection = QStringLiteral("database");

// The schema beside the columns the system reads and writes: `*_key` hold the case-folded
// texts that equality and prefix look-ups compare (SQLite's own folding is ASCII only), and
// `client_num` the value of an all-digit number, so the greatest number is found by value.
const QStringList kCommonTables = {
    // The lengths measured on a record's slot pictures, each with the calibration it used: end
    // points in the picture's pixels, millimetres per pixel of the picture, the [measure] ratio
    // and capture height, and how the calibration was made. Plain SQL, the same on both engines.
    QStringLiteral("create table if not exists t_measurements ("
                   " content_id bigint not null, seq integer not null, slot integer not null,"
                   " x1 integer not null, y1 integer not null, x2 integer not null, y2 integer not null,"
                   " length_mm double precision not null, mm_per_pixel double precision not null,"
                   " calibration_ratio double precision not null, calibration_height integer not null,"
                   " method text not null, observer text, primary key (content_id, seq))"),
    // The series of a record's measurement report for the PACS, kept so sending again never
    // makes a second one.
    QStringLiteral("create table if not exists t_dicom_measurement_series ("
                   " content_id bigint primary key, series_uid text not null)"),
    // DICOM: each record's study (its UIDs kept, so sending again never makes a second study)
    // and the outbox of instances waiting for the PACS, one row per SOP Instance UID. Plain
    // SQL, the same on both engines; next_try is in milliseconds since the epoch.
    QStringLiteral("create table if not exists t_dicom_studies ("
                   " content_id bigint primary key,"
                   " study_uid text not null, image_series_uid text not null, report_series_uid text not null,"
                   " accession_number text)"),
    QStringLiteral("create table if not exists t_dicom_outbox ("
                   " sop_uid text primary key,"
                   " content_id bigint not null, kind text not null, slot integer not null default 0,"
                   " state text not null default 'waiting',"
                   " attempts integer not null default 0, next_try bigint not null default 0,"
                   " last_error text, sent_at text,"
                   " unique (content_id, kind, slot))"),
    QStringLiteral("create index if not exists ix_outbox_state on t_dicom_outbox(state, next_try)"),
    // The procedure step messages for the RIS (MPPS), in order: the N-CREATE (seq 1) of a step
    // before its N-SET (seq 2); the data set as the RIS receives it, in base64; content_id the
    // record the step completed with (0 before).
    QStringLiteral("create table if not exists t_dicom_steps ("
                   " step_uid text not null, seq integer not null, content_id bigint not null default 0,"
                   " attributes text not null, state text not null default 'waiting',"
                   " attempts integer not null default 0, next_try bigint not null default 0,"
                   " last_error text, sent_at text, queued_at bigint not null,"
                   " primary key (step_uid, seq))"),
    // Storage commitment: each request (transaction) for a record's stored instances, its
    // N-ACTION waiting (state 'waiting'), sent and answer awaited ('asked', asked again at
    // next_try) or answered; and each instance's commitment under its latest transaction
    // ('pending', 'committed', 'failed' with the PACS's failure reason).
    QStringLiteral("create table if not exists t_dicom_commits ("
                   " transaction_uid text primary key, content_id bigint not null,"
                   " state text not null default 'waiting',"
                   " attempts integer not null default 0, next_try bigint not null default 0,"
                   " last_error text, asked_at text, queued_at bigint not null)"),
    QStringLiteral("create table if not exists t_dicom_commitments ("
                   " sop_uid text primary key, transaction_uid text not null,"
                   " state text not null default 'pending', failure integer)"),
    // The worklist order an examination was taken from, as the worklist sent it (codes one a
    // line, their parts separated by tabs); none for an examination without a worklist item.
    QStringLiteral("create table if not exists t_dicom_orders ("
                   " content_id bigint primary key,"
                   " study_uid text not null, accession_number text, accession_issuer text,"
                   " requested_procedure_id text, requested_procedure_description text, requested_procedure_codes text,"
                   " scheduled_step_id text, scheduled_step_description text, protocol_codes text,"
                   " referring_physician text, patient_name text, birth_date text, sex text,"
                   " issuer_of_patient_id text)"),
    // Recorded clips for the PACS: a clip waits (content_id null) for its patient's next saved
    // record, then is queued in the outbox under its own SOP Instance UID.
    QStringLiteral("create table if not exists t_dicom_clips ("
                   " sop_uid text primary key, series_uid text not null,"
                   " client_id_key text not null, file text not null, recorded_at text not null,"
                   " content_id bigint)"),
    // The audit trail (records/AuditStore): appended only, each row chained to the one before by
    // its hash. Plain SQL, the same on both engines.
    QStringLiteral("create table if not exists t_audit ("
                   " id bigint primary key, at text not null, operator text not null, host text not null,"
                   " ae_title text not null, event text not null, event_id text not null, event_type text not null,"
                   " action text not null, patient text not null, outcome integer not null, hash text not null)"),
    QStringLiteral("create index if not exists ix_audit_at on t_audit(at)"),
    // The audit entries still to go to the hospital's audit repository (records/AuditStore),
    // queued in the step that appends them, each by the workstation that recorded it.
    QStringLiteral("create table if not exists t_audit_syslog (audit_id bigint primary key, station text not null)"),
    // Operator accounts (records/OperatorStore), shared by every room on a server. The hash is
    // libsodium's Argon2id string, which names its own limits.
    QStringLiteral("create table if not exists t_operators ("
                   " login text primary key, display_name text not null, role text not null,"
                   " password_hash text not null, disabled integer not null default 0, last_login text)"),
};

const QStringList kSQLiteSchema = {
    QStringLiteral("create table if not exists t_clients ("
                   " client_id text not null,"
                   " client_name text, sex text, age text, client_phone text, address text,"
                   " client_id_key text, client_name_key text, client_phone_key text,"
                   " client_num integer)"),
    QStringLiteral("create index if not exists ix_clients_id_key on t_clients(client_id_key)"),
    QStringLiteral("create index if not exists ix_clients_name_key on t_clients(client_name_key)"),
    QStringLiteral("create index if not exists ix_clients_phone_key on t_clients(client_phone_key)"),
    QStringLiteral("create index if not exists ix_clients_num on t_clients(client_num)"),
    QStringLiteral("create table if not exists t_contents ("
                   " ID integer primary key autoincrement,"
                   " client_id text not null, client_id_key text,"
                   " printtime text, doctor text, proposer text, title text,"
                   " pic1 text, pic2 text, pic3 text, pic4 text,"
                   " symptom1 text, symptom2 text, symptom3 text, symptom4 text, symptom5 text,"
                   " has_treat integer not null default 0,"
                   " treat1 text, treat2 text, treat3 text, treat4 text,"
                   " rh real not null default 0,"
                   " picY1 integer not null default 0, picY2 integer not null default 0,"
                   " picY3 integer not null default 0, picY4 integer not null default 0)"),
    QStringLiteral("create index if not exists ix_contents_client on t_contents(client_id_key, ID)"),
    // The deletion journal. A file made before the journal was part of the schema holds the
    // table without "autoincrement": its ID is the rowid all the same, handed out by the
    // engine inside the transaction that holds the file.
    QStringLiteral("create table if not exists t_deleted ("
                   " ID integer primary key autoincrement, deleted_at text not null, kind text not null,"
                   " client_id text, client_name text, records integer not null default 0,"
                   " content text not null, pictures text)"),
};

// The same tables on the server. SQLite's implicit `rowid` becomes a column of that name, so
// the statements read the same; the keys compare in code point order ("C"), as SQLite does,
// which the prefix ranges rely on; the indexes end in `rowid` as SQLite's do implicitly, so
// both engines hand out rows in one order. The slot pictures live in t_pictures, so every
// room reads them.
const QStringList kPostgreSQLSchema = {
    QStringLiteral("create table if not exists t_clients ("
                   " rowid bigserial primary key,"
                   " client_id text not null,"
                   " client_name text, sex text, age text, client_phone text, address text,"
                   " client_id_key text collate \"C\", client_name_key text collate \"C\","
                   " client_phone_key text collate \"C\", client_num bigint)"),
    QStringLiteral("create index if not exists ix_clients_id_key on t_clients(client_id_key, rowid)"),
    QStringLiteral("create index if not exists ix_clients_name_key on t_clients(client_name_key, rowid)"),
    QStringLiteral("create index if not exists ix_clients_phone_key on t_clients(client_phone_key, rowid)"),
    QStringLiteral("create index if not exists ix_clients_num on t_clients(client_num)"),
    QStringLiteral("create table if not exists t_contents ("
                   " ID bigserial primary key,"
                   " client_id text not null, client_id_key text collate \"C\","
                   " printtime text, doctor text, proposer text, title text,"
                   " pic1 text, pic2 text, pic3 text, pic4 text,"
                   " symptom1 text, symptom2 text, symptom3 text, symptom4 text, symptom5 text,"
                   " has_treat integer not null default 0,"
                   " treat1 text, treat2 text, treat3 text, treat4 text,"
                   " rh double precision not null default 0,"
                   " picY1 integer not null default 0, picY2 integer not null default 0,"
                   " picY3 integer not null default 0, picY4 integer not null default 0)"),
    QStringLiteral("create index if not exists ix_contents_client on t_contents(client_id_key, ID)"),
    QStringLiteral("create table if not exists t_pictures (name text collate \"C\" primary key, jpeg bytea not null)"),
    // The deletion journal: the server hands out its IDs, so two rooms deleting at once never
    // take the same one.
    QStringLiteral("create table if not exists t_deleted ("
                   " ID bigint generated by default as identity primary key, deleted_at text not null,"
                   " kind text not null, client_id text, client_name text, records integer not null default 0,"
                   " content text not null, pictures text)"),
    // A journal made before the server handed out its IDs gets its identity once, starting
    // after the greatest ID it holds; the check is repeated under the table's lock, so two
    // rooms opening at once change it once.
    QStringLiteral("do $$ begin"
                   " if exists (select 1 from information_schema.columns where table_schema = current_schema()"
                   " and table_name = 't_deleted' and column_name = 'id' and is_identity = 'NO') then"
                   "  lock table t_deleted in access exclusive mode;"
                   "  if exists (select 1 from information_schema.columns where table_schema = current_schema()"
                   "  and table_name = 't_deleted' and column_name = 'id' and is_identity = 'NO') then"
                   "   alter table t_deleted alter column id add generated by default as identity;"
                   "   perform setval(pg_get_serial_sequence('t_deleted', 'id'),"
                   "    coalesce((select max(id) from t_deleted), 0) + 1, false);"
                   "  end if;"
                   " end if;"
                   " end $$"),
};

} // namespace

DatabaseParameters DatabaseParameters::fromConfig()
{
    const QString driver = ReadConfigString(kSection, QStringLiteral("driver"), QString()).trimmed().toLower();
    if (driver != u"postgresql")
        return sqlite(defaultFile());
    DatabaseParameters parameters =
        postgresql(ReadConfigString(kSection, QStringLiteral("connection"), QString()).trimmed());
    const auto seconds = [](const char *key, int fallback) {
        bool ok = false;
        const int value = ReadConfigString(kSection, QLatin1String(key), QString()).trimmed().toInt(&ok);
        return ok && value > 0 ? value : fallback;
    };
    Bounds &bounds = parameters.bounds;
    bounds.connect = seconds("connect_timeout", bounds.connect);
    bounds.statement = seconds("statement_timeout", bounds.statement);
    bounds.lock = seconds("lock_timeout", bounds.lock);
    bounds.tcpUser = seconds("tcp_user_timeout", bounds.tcpUser);
    return parameters;
}

QString DatabaseParameters::defaultFile()
{
    return ProgramFolder::file(QStringLiteral("data/data.db"));
}

DatabaseParameters DatabaseParameters::sqlite(const QString &file)
{
    return DatabaseParameters{.driver = Driver::SQLite, .file = file, .connection = {}};
}

DatabaseParameters DatabaseParameters::postgresql(const QString &connection)
{
    return DatabaseParameters{.driver = Driver::PostgreSQL, .file = {}, .connection = connection};
}

QString DatabaseParameters::describe() const
{
    return isServer() ? QStringLiteral("PostgreSQL (%1)").arg(connection) : file;
}

namespace DatabaseEngine {

QString qtDriver(DatabaseParameters::Driver driver)
{
    return driver == DatabaseParameters::Driver::PostgreSQL ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE");
}

QString connectOptions(const DatabaseParameters &parameters)
{
    // A server that does not answer fails the opening within seconds; an idle connection whose
    // server went away is noticed by the keep-alives, a busy one by the TCP user timeout.
    return QStringLiteral("connect_timeout=%1 keepalives=1 keepalives_idle=10 keepalives_interval=3"
                          " keepalives_count=3 tcp_user_timeout=%2 ")
               .arg(parameters.bounds.connect)
               .arg(qint64(parameters.bounds.tcpUser) * 1000)
        + parameters.connection;
}

QStringList sessionSettings(const DatabaseParameters &parameters)
{
    // A committed examination survives a power cut: the log is synced on every commit.
    if (!parameters.isServer())
        return {QStringLiteral("pragma synchronous=full")};
    return {QStringLiteral("set client_min_messages to warning"),
            QStringLiteral("set statement_timeout = %1").arg(qint64(parameters.bounds.statement) * 1000)};
}

const QStringList &settingsAfterSchema(DatabaseParameters::Driver driver)
{
    static const QStringList sqlite = {QStringLiteral("pragma journal_mode=wal")};
    static const QStringList server;
    return driver == DatabaseParameters::Driver::PostgreSQL ? server : sqlite;
}

const QStringList &schema(DatabaseParameters::Driver driver)
{
    static const QStringList sqlite = kSQLiteSchema + kCommonTables;
    static const QStringList server = kPostgreSQLSchema + kCommonTables;
    return driver == DatabaseParameters::Driver::PostgreSQL ? server : sqlite;
}

QString beginTransaction(DatabaseParameters::Driver driver)
{
    return driver == DatabaseParameters::Driver::PostgreSQL ? QStringLiteral("begin")
                                                            : QStringLiteral("begin immediate");
}

QString likeEscape(DatabaseParameters::Driver driver)
{
    return driver == DatabaseParameters::Driver::PostgreSQL ? QStringLiteral(" escape ''") : QString();
}

QStringList lockPatientNumbers(const DatabaseParameters &parameters)
{
    if (!parameters.isServer())
        return {};
    // Another room holding the lock longer than this fails the save rather than freezing it.
    return {QStringLiteral("set local lock_timeout = %1").arg(qint64(parameters.bounds.lock) * 1000),
            QStringLiteral("lock table t_clients in share row exclusive mode")};
}

QString boundOf(const QString &sqlState)
{
    if (sqlState == u"57014")
        return QStringLiteral("statement_timeout");
    if (sqlState == u"55P03")
        return QStringLiteral("lock_timeout");
    return {};
}

QString lockAuditTrail(DatabaseParameters::Driver driver)
{
    return driver == DatabaseParameters::Driver::PostgreSQL ? QStringLiteral("lock table t_audit in exclusive mode")
                                                            : QString();
}

} // namespace DatabaseEngine
