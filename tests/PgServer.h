#pragma once

#include <QList>
#include <QString>

// A private PostgreSQL 15 server for one test program: a cluster initialised under the build
// folder, owned by an unprivileged user when the tests run as root, listening on a Unix socket
// folder of its own (or a free loopback port), stopped and removed when the object goes. The
// machine's own clusters are never touched. Every wait is bounded.
class PgServer {
public:
    explicit PgServer(bool loopback = false);
    ~PgServer();
    PgServer(const PgServer &) = delete;
    PgServer &operator=(const PgServer &) = delete;

    // Before start(): the server speaks TLS (ssl=on) with this certificate and key.
    void useTls(const QString &certificateFile, const QString &keyFile);
    // Initialises and starts the cluster; false with the reason in error() when it cannot.
    bool start();
    // A streaming standby of a running primary (pg_basebackup -R), started; false with the
    // reason in error() when it cannot.
    bool startStandbyOf(const PgServer &primary);
    // The standby becomes a primary that takes writes.
    bool promote();
    bool restart();
    // "immediate" is a machine that stops; "fast" sends every committed change to the standby.
    void stop(const QString &mode = QStringLiteral("immediate"));
    bool isRunning() const { return m_running; }
    // Stops the server and every process it started with SIGSTOP (a hung server machine, as a
    // client sees it: connections stay open, nothing answers), and lets them go on.
    bool freeze();
    void thaw();
    QString error() const { return m_error; }

    // A libpq connection string to `database` (created when missing) with `schema` (created when
    // missing, when not empty) first on the search path.
    QString connection(const QString &database = QStringLiteral("examstation"), const QString &schema = QString());
    // The host (socket folder or loopback address) and port of connection().
    QString host() const;
    int port() const { return m_port; }
    // Runs one statement through psql as the cluster's owner; false on failure.
    bool psql(const QString &database, const QString &statement);

    // The server the environment variable EXAMSTATION_TEST_DATABASE=postgresql asks the test
    // program to use for every program folder (started once, stopped at exit); nullptr
    // otherwise.
    static PgServer *forTestHomes();
    static void stopTestHomes();
    // The reason the tests that need a server are skipped, empty when one runs.
    static QString unavailableReason(PgServer *server);

private:
    // A new cluster folder, handed to the server's user; false with the reason in error().
    bool prepareRoot();
    bool startCluster();
    bool run(const QString &program, const QStringList &arguments, int timeoutMs, QString *output = nullptr);

    QString m_root; // cluster, socket and log live here
    QString m_socketFolder;
    int m_port = 0;
    bool m_loopback = false;
    QString m_tlsCertificate;
    QString m_tlsKey;
    bool m_running = false;
    bool m_asNobody = false;
    QList<qint64> m_frozen;
    QString m_error;
};
