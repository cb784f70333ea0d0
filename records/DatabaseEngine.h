#pragma once

#include <QString>
#include <QStringList>

// Which engine holds the records and how it is reached (section [database] of config.ini),
// and every difference between the engines' SQL. Everything above this file speaks one SQL.
// Plain values: any thread.
struct DatabaseParameters {
    enum class Driver { SQLite, PostgreSQL };

    Driver driver = Driver::SQLite;
    QString file; // SQLite: the database file
    QString connection; // PostgreSQL: a libpq connection string; its password stays in libpq's files
    // PostgreSQL: how long each wait on the server may last, in seconds ([database] of
    // config.ini: connect_timeout, statement_timeout, lock_timeout, tcp_user_timeout).
    struct Bounds {
        int connect = 5; // opening a connection
        // Each statement on the server; the workstation waits this plus kAnswerMarginSeconds
        // for any answer, then drops the connection (a hung server or a pulled cable).
        int statement = 10;
        int lock = 3; // the save's lock on the patient numbers
        int tcpUser = 10; // data sent and not acknowledged this long drops the connection
    };
    static constexpr int kAnswerMarginSeconds = 2;
    Bounds bounds;

    // [database] driver = sqlite (default) | postgresql, connection = the libpq string; read
    // with profile semantics. SQLite uses the program's data/data.db.
    static DatabaseParameters fromConfig();
    // The program's database file, ProgramFolder::file("data/data.db").
    static QString defaultFile();
    static DatabaseParameters sqlite(const QString &file);
    static DatabaseParameters postgresql(const QString &connection);

    bool isServer() const { return driver == Driver::PostgreSQL; }
    // "data/data.db" or the connection string, for messages.
    QString describe() const;
};

namespace DatabaseEngine {

QString qtDriver(DatabaseParameters::Driver driver);
// The server's connection options before the configured connection string (which wins):
// connect_timeout, TCP keep-alives and tcp_user_timeout from the bounds.
QString connectOptions(const DatabaseParameters &parameters);
// Run once on every new connection: SQLite syncs its log on every commit, so a committed
// examination survives a power cut; the server keeps its notices ("already exists") to itself
// and ends any statement that runs longer than the statement bound.
QStringList sessionSettings(const DatabaseParameters &parameters);
// Run after the schema is known to fit: SQLite's switch to WAL mode rewrites the file's header,
// so a file that is not ours is refused before it.
const QStringList &settingsAfterSchema(DatabaseParameters::Driver driver);
// The tables and indexes, each created when missing.
const QStringList &schema(DatabaseParameters::Driver driver);
// SQLite takes the write lock when the transaction begins, so a second room waits there
// instead of failing half-way; PostgreSQL locks row by row.
QString beginTransaction(DatabaseParameters::Driver driver);
// Appended after every "like :pattern": PostgreSQL treats "\" as an escape unless told not to,
// SQLite never does, and a typed "\" must be an ordinary character on both.
QString likeEscape(DatabaseParameters::Driver driver);
// Run first in the save's transaction so that checking a number and storing its patient is
// one step among all rooms (empty on SQLite, where the transaction already holds the file);
// on the server the lock is waited for at most the lock bound.
QStringList lockPatientNumbers(const DatabaseParameters &parameters);
// Which bound the server's error stands for ("statement_timeout", "lock_timeout"), from its
// SQLSTATE; empty for any other error.
QString boundOf(const QString &sqlState);
// Run first when appending to the audit trail, so rooms appending at once keep one chain
// (empty on SQLite, where the transaction already holds the file).
QString lockAuditTrail(DatabaseParameters::Driver driver);

} // namespace DatabaseEngine
