#pragma once

#include "records/DatabaseEngine.h"

#include <QHash>
#include <QObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include <functional>
#include <initializer_list>
#include <memory>
#include <utility>

// The system's one connection to its database (the window's `ADOConn`): opens the SQLite file
// or the PostgreSQL server that config.ini names, creates the schema when it is missing, and
// runs every statement. A server connection that failed is checked at the next statement
// outside a transaction and opened again when it was lost. One Database per thread: the window
// has its own, and so has every thread that reads or writes records (the outbox's worker).
class Database {
public:
    Database();
    ~Database();
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    // Closes a connection that is open, then opens the file, creating the folder, the file and
    // its tables and indexes when missing. Throws AppError with the engine's message when the
    // file cannot be opened or is no database; the file itself is never changed then.
    void open(const QString &file);
    // The engine and connection of config.ini's [database] section (SQLite file by default).
    void open(const DatabaseParameters &parameters = DatabaseParameters::fromConfig());
    void close();
    bool isOpen() const;
    QString file() const { return m_parameters.file; }
    const DatabaseParameters &parameters() const { return m_parameters; }
    DatabaseParameters::Driver driver() const { return m_parameters.driver; }

    // Transactions start as writers at once, so another process holding the file makes this
    // one wait (busy timeout) rather than fail half-way through.
    void BeginTrans();
    void CommitTrans();
    void RollbackTrans();
    bool inTransaction() const { return m_inTransaction; }

    // A prepared statement on this connection; throws AppError when the engine rejects it.
    QSqlQuery prepare(const QString &statement) const;
    using Binding = std::pair<const char *, QVariant>;
    // Prepares, binds every value by name and runs; throws AppError on failure.
    QSqlQuery run(const QString &statement, std::initializer_list<Binding> bindings) const;
    // Runs the query; throws AppError on failure, after which a server connection is checked
    // before the next statement.
    void exec(QSqlQuery &query) const;
    // Runs a statement without preparing it (transaction control, locks, schema).
    void execute(const QString &statement) const;

    QSqlDatabase connection() const;

    // Server only: after a statement found the connection cut or gave no answer, the server is
    // away: a thread of the connection's own (ServerCheck) tries a connection of its own with
    // back-off, and until one succeeds every statement fails at once with kAwayMessage instead
    // of waiting. The next statement after that opens this connection again.
    bool isAway() const;
    static const char *const kAwayMessage;
    // Called on the owner's thread when the server goes away (true) and when it is back
    // (false); "back" is posted from the check as a queued call, so it needs the owner's event
    // loop, and otherwise is noticed at the next statement.
    void setAwayListener(std::function<void(bool away)> listener);
    // Another connection to the same server found it away: this one counts it away too, with a
    // check of its own.
    void markAway();
    // Another connection to the same server found it back: this one stops its check and opens
    // its connection again at the next statement.
    void markBack() { comeBack(); }

    // How many waits on a server (statements, transaction control, probes) every Database of
    // the program has run on the application's main thread, the window's: the window's
    // operations must leave it unchanged (checked by the window tests on a server).
    static int serverWaitsOnMainThread();

private:
    class AnswerWatch;
    class ServerCheck;
    void goAway() const;
    void comeBack() const;
    // Runs one call that waits on the server, under the answer bound: when the server does not
    // answer in time the connection is dropped, so the call returns with an error.
    template<typename Call> bool bounded(Call &&call) const;
    void createSchema();
    void fillMissingKeys();
    QSqlDatabase usableConnection() const;
    [[noreturn]] void fail(const QSqlError &error) const;

    QString m_name;
    DatabaseParameters m_parameters;
    bool m_inTransaction = false;
    // A statement failed on the server: the connection may be gone (restart, network).
    mutable bool m_suspect = false;
    // Server only: statements prepared once per connection, so each later run is one round
    // trip instead of prepare, execute and release.
    mutable QHash<QString, QSqlQuery> m_prepared;
    // Server only: the watch over each wait for an answer, and whether the last one ran out.
    std::unique_ptr<AnswerWatch> m_watch;
    mutable bool m_unanswered = false;
    mutable bool m_lastUnanswered = false; // the last failure was the watch running out
    mutable std::unique_ptr<ServerCheck> m_check; // while the server is away
    mutable std::unique_ptr<QObject> m_checkAnswers; // owner thread: receives the check's news
    std::function<void(bool)> m_awayListener;
};

// Rolls the transaction back unless commit() was reached; never throws from its destructor.
class ScopedTransaction {
public:
    explicit ScopedTransaction(Database &db);
    ~ScopedTransaction();
    ScopedTransaction(const ScopedTransaction &) = delete;
    ScopedTransaction &operator=(const ScopedTransaction &) = delete;

    void commit();

private:
    Database &m_db;
    bool m_open = true;
};
