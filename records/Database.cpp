#include "records/Database.h"

#include "core/AppError.h"
#include "records/Logging.h"
#include "records/PatientText.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMetaObject>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlRecord>
#include <QThread>

#include <libpq-fe.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

QString engineMessage(const QSqlError &error)
{
    QString text = error.databaseText();
    if (text.isEmpty())
        text = error.text();
    return text.trimmed();
}

// The socket of the server connection, -1 when there is none.
int serverSocket(const QSqlDatabase &db)
{
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    // Qt names the type after libpq's struct: "pg_conn*".
    if (!handle.isValid()
        || (qstrcmp(handle.typeName(), "pg_conn*") != 0 && qstrcmp(handle.typeName(), "PGconn*") != 0))
        return -1;
    PGconn *connection = *static_cast<PGconn *const *>(handle.constData());
    return connection ? PQsocket(connection) : -1;
}

// Whether libpq found the server connection gone (closed by the server, a failed socket).
bool serverConnectionLost(const QSqlDatabase &db)
{
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid()
        || (qstrcmp(handle.typeName(), "pg_conn*") != 0 && qstrcmp(handle.typeName(), "PGconn*") != 0))
        return false;
    PGconn *connection = *static_cast<PGconn *const *>(handle.constData());
    return !connection || PQstatus(connection) == CONNECTION_BAD;
}

} // namespace

// A thread of the connection's own that watches each wait for the server's answer. libpq waits
// without end for a server that stopped answering (a hung machine, a frozen process, a pulled
// cable on a quiet link), and the server's own statement_timeout cannot help when the server is
// what hangs; when the bound passes, the watch shuts the socket down (it stays open for the
// waiting thread), so the wait returns at once with an error.
class Database::AnswerWatch {
public:
    AnswerWatch()
        : m_thread([this] { run(); })
    {
    }
    ~AnswerWatch()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_quit = true;
        }
        m_changed.notify_one();
        m_thread.join();
    }
    AnswerWatch(const AnswerWatch &) = delete;
    AnswerWatch &operator=(const AnswerWatch &) = delete;

    void arm(int socket, std::chrono::milliseconds bound)
    {
        {
            const std::lock_guard lock(m_mutex);
            m_socket = socket;
            m_deadline = std::chrono::steady_clock::now() + bound;
            m_armed = true;
            m_ranOut = false;
        }
        m_changed.notify_one();
    }
    // Whether the bound ran out before the answer came.
    bool disarm()
    {
        const std::lock_guard lock(m_mutex);
        m_armed = false;
        return m_ranOut;
    }

private:
    void run()
    {
        std::unique_lock lock(m_mutex);
        while (!m_quit) {
            if (!m_armed) {
                m_changed.wait(lock);
                continue;
            }
            const auto deadline = m_deadline;
            if (m_changed.wait_until(lock, deadline, [&] { return m_quit || !m_armed || m_deadline != deadline; }))
                continue;
            ::shutdown(m_socket, SHUT_RDWR);
            m_ranOut = true;
            m_armed = false;
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_socket = -1; // under m_mutex, as are the three below
    std::chrono::steady_clock::time_point m_deadline;
    bool m_armed = false;
    bool m_ranOut = false;
    bool m_quit = false;
    std::thread m_thread; // last: starts once the members above exist
};

// While the server is away: a thread that opens a libpq connection of its own, as the owner's
// would be opened, with back-off between the tries (0.25 s doubling up to 8 s), until one
// succeeds, and then ends. Each try is bounded by the connect bound and polled in short
// slices, so stopping the check never waits longer than one slice.
class Database::ServerCheck {
public:
    ServerCheck(const DatabaseParameters &parameters, std::function<void()> answered)
        : m_conninfo(DatabaseEngine::connectOptions(parameters).toUtf8())
        , m_connectBound(std::chrono::seconds(parameters.bounds.connect))
        , m_answered(std::move(answered))
        , m_thread([this] { run(); })
    {
    }
    ~ServerCheck()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_quit = true;
        }
        m_changed.notify_one();
        m_thread.join();
    }
    ServerCheck(const ServerCheck &) = delete;
    ServerCheck &operator=(const ServerCheck &) = delete;

    bool answered() const { return m_serverAnswered.load(); }

private:
    static constexpr std::chrono::milliseconds kSlice{50};

    bool quitting()
    {
        const std::lock_guard lock(m_mutex);
        return m_quit;
    }

    // One connection attempt; true when the server took it.
    bool tryOnce()
    {
        PGconn *connection = PQconnectStart(m_conninfo.constData());
        if (!connection)
            return false;
        const auto deadline = std::chrono::steady_clock::now() + m_connectBound;
        PostgresPollingStatusType status = PGRES_POLLING_WRITING;
        while (status != PGRES_POLLING_OK && status != PGRES_POLLING_FAILED && PQstatus(connection) != CONNECTION_BAD
               && std::chrono::steady_clock::now() < deadline && !quitting()) {
            pollfd wait{.fd = PQsocket(connection),
                        .events = short(status == PGRES_POLLING_READING ? POLLIN : POLLOUT),
                        .revents = 0};
            const int ready = ::poll(&wait, 1, int(kSlice.count()));
            if (ready > 0)
                status = PQconnectPoll(connection);
            else if (ready < 0 && errno != EINTR)
                break;
        }
        const bool ok = status == PGRES_POLLING_OK && PQstatus(connection) == CONNECTION_OK;
        PQfinish(connection);
        return ok;
    }

    void run()
    {
        auto pause = std::chrono::milliseconds(250);
        for (;;) {
            {
                std::unique_lock lock(m_mutex);
                if (m_changed.wait_for(lock, pause, [this] { return m_quit; }))
                    return;
            }
            if (tryOnce()) {
                m_serverAnswered = true;
                m_answered();
                return;
            }
            if (quitting())
                return;
            qCInfo(lcRecords) << "the database server is still away";
            pause = std::min(pause * 2, std::chrono::milliseconds(8000));
        }
    }

    const QByteArray m_conninfo;
    const std::chrono::milliseconds m_connectBound;
    const std::function<void()> m_answered; // called on the check's thread
    std::atomic<bool> m_serverAnswered{false};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_quit = false; // under m_mutex
    std::thread m_thread; // last: starts once the members above exist
};

const char *const Database::kAwayMessage =
    "The database server is away; the workstation connects again when it answers.";

bool Database::isAway() const
{
    return m_check && !m_check->answered();
}

void Database::setAwayListener(std::function<void(bool)> listener)
{
    m_awayListener = std::move(listener);
}

void Database::markAway()
{
    if (!isOpen())
        return;
    m_suspect = true;
    goAway();
}

void Database::goAway() const
{
    if ((m_check && !m_check->answered()) || !m_parameters.isServer())
        return;
    m_check.reset();
    qCWarning(lcRecords) << "the database server is away; connecting again in the background";
    if (!m_checkAnswers)
        m_checkAnswers = std::make_unique<QObject>();
    // The check's news reaches the owner's thread as a queued call on an object of its own; a
    // call still queued when the check is gone finds nothing to do.
    QObject *answers = m_checkAnswers.get();
    m_check = std::make_unique<ServerCheck>(m_parameters, [this, answers] {
        QMetaObject::invokeMethod(
            answers,
            [this] {
                if (m_check && m_check->answered())
                    comeBack();
            },
            Qt::QueuedConnection);
    });
    if (m_awayListener)
        m_awayListener(true);
}

void Database::comeBack() const
{
    if (!m_check)
        return;
    m_check.reset();
    // This connection was cut: it is opened again at the next statement.
    m_suspect = true;
    qCInfo(lcRecords) << "the database server answers again";
    if (m_awayListener)
        m_awayListener(false);
}

namespace {
std::atomic<int> g_serverWaitsOnMainThread{0};
}

int Database::serverWaitsOnMainThread()
{
    return g_serverWaitsOnMainThread.load();
}

template<typename Call> bool Database::bounded(Call &&call) const
{
    if (!m_watch)
        return call();
    if (QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread())
        ++g_serverWaitsOnMainThread;
    m_watch->arm(serverSocket(connection()),
                 std::chrono::seconds(m_parameters.bounds.statement + DatabaseParameters::kAnswerMarginSeconds));
    const bool answered = call();
    m_unanswered = m_watch->disarm();
    // An answer that came as the bound ran out still leaves the connection cut.
    if (m_unanswered)
        m_suspect = true;
    return answered;
}

Database::Database()
{
    static std::atomic<int> counter{0};
    m_name = QStringLiteral("examstation-%1").arg(++counter);
}

Database::~Database()
{
    close();
}

void Database::open(const QString &file)
{
    open(DatabaseParameters::sqlite(file));
}

void Database::open(const DatabaseParameters &parameters)
{
    close();
    const bool server = parameters.isServer();
    if (!server)
        QDir().mkpath(QFileInfo(parameters.file).absolutePath());
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(DatabaseEngine::qtDriver(parameters.driver), m_name);
        if (server) {
            // Options of the connection string itself come later and win.
            db.setConnectOptions(DatabaseEngine::connectOptions(parameters));
        } else {
            db.setDatabaseName(parameters.file);
            // Another process on the same file waits up to this long for its lock.
            db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
        }
        if (!db.open()) {
            const QString message = engineMessage(db.lastError());
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(m_name);
            throw AppError(message.isEmpty() ? QStringLiteral("Cannot open database %1").arg(parameters.describe())
                                             : message);
        }
    }
    m_parameters = parameters;
    m_suspect = false;
    if (server)
        m_watch = std::make_unique<AnswerWatch>();
    try {
        const auto run = [this](const QString &setting) {
            QSqlQuery query(connection());
            if (!bounded([&] { return query.exec(setting); }))
                fail(query.lastError());
            // A pragma answering a row keeps its statement live until finished, and a live
            // pragma makes the next commit fail.
            query.finish();
        };
        for (const QString &setting : DatabaseEngine::sessionSettings(m_parameters))
            run(setting);
        // The schema first, in one transaction that rolls back when the file holds tables of
        // another shape, so a file that is not ours is refused before anything changes it;
        // only then is it switched to WAL mode, which rewrites the file's header.
        createSchema();
        for (const QString &setting : DatabaseEngine::settingsAfterSchema(m_parameters.driver))
            run(setting);
        fillMissingKeys();
    } catch (...) {
        close();
        throw;
    }
}

void Database::close()
{
    m_prepared.clear();
    if (!QSqlDatabase::contains(m_name))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
    m_watch.reset();
    m_check.reset();
    m_inTransaction = false;
    m_suspect = false;
    m_parameters = DatabaseParameters();
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
    for (const QString &statement : DatabaseEngine::schema(m_parameters.driver))
        execute(statement);
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
    try {
        execute(DatabaseEngine::beginTransaction(m_parameters.driver));
    } catch (const AppError &) {
        // A server connection found gone at the start (the server restarted, a standby took
        // over) is opened again once: nothing of the transaction was sent yet. A server that
        // gave no answer is not asked again.
        if (!m_parameters.isServer() || m_lastUnanswered || !serverConnectionLost(connection()))
            throw;
        qCInfo(lcRecords) << "the connection was gone at the start of a transaction; opening it again";
        // Nothing was sent yet: the one new try is not held back by the check just started.
        if (m_check) {
            m_check.reset();
            if (m_awayListener)
                m_awayListener(false);
        }
        execute(DatabaseEngine::beginTransaction(m_parameters.driver));
    }
    m_inTransaction = true;
}

void Database::CommitTrans()
{
    execute(QStringLiteral("commit"));
    m_inTransaction = false;
}

void Database::RollbackTrans()
{
    m_inTransaction = false;
    if (!QSqlDatabase::contains(m_name))
        throw AppError(QStringLiteral("Database is not open"));
    // On the connection as it is: a connection found lost has nothing left to roll back, and a
    // new one is never opened for it.
    QSqlQuery query(connection());
    if (!bounded([&] { return query.exec(QStringLiteral("rollback")); }))
        fail(query.lastError());
}

QSqlDatabase Database::usableConnection() const
{
    if (!QSqlDatabase::contains(m_name))
        throw AppError(QStringLiteral("Database is not open"));
    if (m_check) {
        if (!m_check->answered())
            throw AppError(QString::fromLatin1(kAwayMessage));
        comeBack();
    }
    QSqlDatabase db = connection();
    // After a failure on the server, the next statement outside a transaction first makes
    // sure the connection still answers and opens it again when it does not (the server
    // restarted, the network dropped). Inside a transaction nothing is retried: the
    // transaction fails whole.
    if (m_parameters.isServer() && !m_inTransaction && (m_suspect || !db.isOpen())) {
        QSqlQuery probe(db);
        if (!db.isOpen() || !bounded([&] { return probe.exec(QStringLiteral("select 1")); })) {
            qCInfo(lcRecords) << "connection to the server lost, opening it again:" << engineMessage(probe.lastError());
            probe = QSqlQuery();
            m_prepared.clear();
            db.close();
            if (!db.open()) {
                goAway();
                throw AppError(engineMessage(db.lastError()));
            }
            for (const QString &setting : DatabaseEngine::sessionSettings(m_parameters)) {
                QSqlQuery query(db);
                bounded([&] { return query.exec(setting); });
            }
        }
        m_suspect = false;
    }
    if (!db.isOpen())
        throw AppError(QStringLiteral("Database is not open"));
    return db;
}

void Database::fail(const QSqlError &error) const
{
    if (!m_parameters.isServer())
        throw AppError(engineMessage(error));
    m_suspect = true;
    m_lastUnanswered = m_unanswered;
    // No answer, or no connection left (libpq's own failures carry no SQLSTATE; class 08 and
    // 57P are the connection's and the server's shutdown): the server is away until a
    // connection of the check's own succeeds.
    const QString state = error.nativeErrorCode();
    if (m_unanswered || serverConnectionLost(connection()) || state.isEmpty() || state.startsWith(u"08")
        || state.startsWith(u"57P"))
        goAway();
    if (m_unanswered) {
        m_unanswered = false;
        const int seconds = m_parameters.bounds.statement + DatabaseParameters::kAnswerMarginSeconds;
        qCWarning(lcRecords, "bound hit: the server gave no answer within %d s; the connection was dropped", seconds);
        throw AppError(QStringLiteral("The database server gave no answer within %1 s.").arg(seconds));
    }
    const QString bound = DatabaseEngine::boundOf(error.nativeErrorCode());
    if (!bound.isEmpty())
        qCWarning(lcRecords).noquote() << "bound hit:" << bound << "-" << engineMessage(error);
    throw AppError(engineMessage(error));
}

QSqlQuery Database::prepare(const QString &statement) const
{
    QSqlDatabase db = usableConnection();
    if (m_parameters.isServer()) {
        if (const auto known = m_prepared.constFind(statement); known != m_prepared.cend()) {
            // A copy shares the prepared statement on the server: that sharing is the point of
            // the cache, so the copy Qt deprecates is meant here.
            QT_WARNING_PUSH
            QT_WARNING_DISABLE_DEPRECATED
            QSqlQuery query = *known;
            QT_WARNING_POP
            query.finish();
            return query;
        }
    }
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!bounded([&] { return query.prepare(statement); }))
        fail(query.lastError());
    if (m_parameters.isServer())
        m_prepared.insert(statement, query);
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

void Database::exec(QSqlQuery &query) const
{
    if (!bounded([&] { return query.exec(); }))
        fail(query.lastError());
}

void Database::execute(const QString &statement) const
{
    QSqlQuery query(usableConnection());
    if (!bounded([&] { return query.exec(statement); }))
        fail(query.lastError());
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
    } catch (const std::exception &failure) {
        // The engine already ended the transaction (a failed commit, a closed file).
        qCDebug(lcRecords) << "no transaction left to roll back:" << failure.what();
    }
}

void ScopedTransaction::commit()
{
    m_db.CommitTrans();
    m_open = false;
}
