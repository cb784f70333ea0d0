#include "PgServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <memory>

namespace {

const QString kBin = QStringLiteral("/usr/lib/postgresql/15/bin/");
const QString kOwner = QStringLiteral("examstation");
constexpr int kStartTimeoutSeconds = 60;

// Hands a folder and everything in it to the unprivileged user the server runs as.
bool giveTo(const QString &path, uid_t uid, gid_t gid)
{
    if (::chown(QFile::encodeName(path).constData(), uid, gid) != 0)
        return false;
    for (const QFileInfo &entry : QDir(path).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
        if (entry.isDir() ? !giveTo(entry.filePath(), uid, gid)
                          : ::chown(QFile::encodeName(entry.filePath()).constData(), uid, gid) != 0)
            return false;
    }
    return true;
}

int freeLoopbackPort()
{
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    if (probe < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(probe, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && ::getsockname(probe, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(probe);
    return port;
}

} // namespace

PgServer::PgServer(bool loopback)
    : m_loopback(loopback)
{
}

PgServer::~PgServer()
{
    stop();
    if (!m_root.isEmpty())
        QDir(m_root).removeRecursively();
}

bool PgServer::run(const QString &program, const QStringList &arguments, int timeoutMs, QString *output)
{
    QProcess process;
    process.setWorkingDirectory(m_root);
    process.setProcessChannelMode(QProcess::MergedChannels);
    // PostgreSQL refuses to run as root: the cluster belongs to nobody then.
    if (m_asNobody)
        process.start(QStringLiteral("runuser"),
                      QStringList{QStringLiteral("-u"), QStringLiteral("nobody"), QStringLiteral("--"), program}
                          + arguments);
    else
        process.start(program, arguments);
    const bool finished = process.waitForFinished(timeoutMs);
    if (!finished)
        process.kill(), process.waitForFinished(5000);
    const QString text = QString::fromLocal8Bit(process.readAll());
    if (output)
        *output = text;
    if (!finished || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        m_error = QStringLiteral("%1 failed%2: %3")
                      .arg(QFileInfo(program).fileName(), finished ? QString() : QStringLiteral(" (timed out)"),
                           text.trimmed().right(600));
        return false;
    }
    return true;
}

void PgServer::useTls(const QString &certificateFile, const QString &keyFile)
{
    m_tlsCertificate = certificateFile;
    m_tlsKey = keyFile;
}

bool PgServer::prepareRoot()
{
    if (!QFileInfo(kBin + QStringLiteral("initdb")).isExecutable()) {
        m_error =
            QStringLiteral("PostgreSQL 15 is not installed (no %1initdb; scripts/setup --test installs it)").arg(kBin);
        return false;
    }
    static std::atomic<int> counter{0};
    m_root = QStringLiteral("%1/postgres/%2-%3")
                 .arg(QCoreApplication::applicationDirPath())
                 .arg(QCoreApplication::applicationPid())
                 .arg(++counter);
    QDir(m_root).removeRecursively();
    m_socketFolder = m_root + QStringLiteral("/socket");
    if (!QDir().mkpath(m_socketFolder)) {
        m_error = QStringLiteral("cannot create %1").arg(m_socketFolder);
        return false;
    }
    // The server reads its key only when it owns it alone: copies in the cluster's folder.
    const QString tls = m_root + QStringLiteral("/tls/");
    if (!m_tlsCertificate.isEmpty()
        && (!QDir().mkpath(tls) || !QFile::copy(m_tlsCertificate, tls + QStringLiteral("server.crt"))
            || !QFile::copy(m_tlsKey, tls + QStringLiteral("server.key"))
            || !QFile::setPermissions(tls + QStringLiteral("server.key"),
                                      QFileDevice::ReadOwner | QFileDevice::WriteOwner))) {
        m_error = QStringLiteral("cannot copy the TLS certificate and key to %1").arg(tls);
        return false;
    }
    m_asNobody = ::geteuid() == 0;
    if (m_asNobody) {
        const passwd *nobody = ::getpwnam("nobody");
        if (!nobody || !giveTo(m_root, nobody->pw_uid, nobody->pw_gid)) {
            m_error = QStringLiteral("cannot hand %1 to the user nobody").arg(m_root);
            return false;
        }
    }
    m_port = m_loopback ? freeLoopbackPort() : 5432;
    if (m_port == 0) {
        m_error = QStringLiteral("no free loopback port");
        return false;
    }
    return true;
}

bool PgServer::startCluster()
{
    QString options = QStringLiteral("-k %1 -p %2 -c listen_addresses='%3' -c fsync=off")
                          .arg(m_socketFolder)
                          .arg(m_port)
                          .arg(m_loopback ? QStringLiteral("127.0.0.1") : QString());
    if (!m_tlsCertificate.isEmpty())
        options += QStringLiteral(" -c ssl=on -c ssl_cert_file=%1/tls/server.crt -c ssl_key_file=%1/tls/server.key")
                       .arg(m_root);
    if (!run(kBin + QStringLiteral("pg_ctl"),
             {QStringLiteral("-D"), m_root + QStringLiteral("/data"), QStringLiteral("-l"),
              m_root + QStringLiteral("/server.log"), QStringLiteral("-o"), options, QStringLiteral("-w"),
              QStringLiteral("-t"), QString::number(kStartTimeoutSeconds), QStringLiteral("start")},
             (kStartTimeoutSeconds + 10) * 1000))
        return false;
    m_running = true;
    return true;
}

bool PgServer::start()
{
    if (m_running)
        return true;
    if (!prepareRoot())
        return false;
    if (!run(kBin + QStringLiteral("initdb"),
             {QStringLiteral("-D"), m_root + QStringLiteral("/data"), QStringLiteral("-A"), QStringLiteral("trust"),
              QStringLiteral("-U"), kOwner, QStringLiteral("-E"), QStringLiteral("UTF8"), QStringLiteral("--locale=C"),
              QStringLiteral("--no-sync")},
             120000))
        return false;
    return startCluster() && psql(QStringLiteral("postgres"), QStringLiteral("create database examstation"));
}

bool PgServer::startStandbyOf(const PgServer &primary)
{
    if (m_running || !primary.isRunning() || !prepareRoot())
        return false;
    // The primary's cluster lets its owner replicate over the socket (initdb's trust rules).
    return run(kBin + QStringLiteral("pg_basebackup"),
               {QStringLiteral("-D"), m_root + QStringLiteral("/data"), QStringLiteral("-h"), primary.host(),
                QStringLiteral("-p"), QString::number(primary.port()), QStringLiteral("-U"), kOwner,
                QStringLiteral("-R"), QStringLiteral("-X"), QStringLiteral("stream"),
                QStringLiteral("--checkpoint=fast"), QStringLiteral("--no-sync")},
               120000)
        && startCluster();
}

bool PgServer::promote()
{
    return m_running
        && run(kBin + QStringLiteral("pg_ctl"),
               {QStringLiteral("-D"), m_root + QStringLiteral("/data"), QStringLiteral("-w"), QStringLiteral("-t"),
                QString::number(kStartTimeoutSeconds), QStringLiteral("promote")},
               (kStartTimeoutSeconds + 10) * 1000);
}

QString PgServer::host() const
{
    return m_loopback ? QStringLiteral("127.0.0.1") : m_socketFolder;
}

bool PgServer::restart()
{
    if (!m_running)
        return false;
    // Fast: every client connection is cut, as when the server machine restarts.
    return run(kBin + QStringLiteral("pg_ctl"),
               {QStringLiteral("-D"), m_root + QStringLiteral("/data"), QStringLiteral("-m"), QStringLiteral("fast"),
                QStringLiteral("-w"), QStringLiteral("-t"), QString::number(kStartTimeoutSeconds),
                QStringLiteral("restart")},
               (kStartTimeoutSeconds + 10) * 1000);
}

bool PgServer::freeze()
{
    QFile pidFile(m_root + QStringLiteral("/data/postmaster.pid"));
    if (!m_running || !pidFile.open(QIODevice::ReadOnly))
        return false;
    const qint64 postmaster = pidFile.readLine().trimmed().toLongLong();
    m_frozen = {postmaster};
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        // "pid (name) state ppid ...": the parent follows the name's closing parenthesis.
        if (stat.open(QIODevice::ReadOnly)) {
            const QByteArray text = stat.readAll();
            const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
            if (fields.size() > 1 && fields.at(1).toLongLong() == postmaster)
                m_frozen.append(entry.toLongLong());
        }
    }
    for (qint64 pid : std::as_const(m_frozen))
        ::kill(pid_t(pid), SIGSTOP);
    return postmaster > 0;
}

void PgServer::thaw()
{
    for (qint64 pid : std::as_const(m_frozen))
        ::kill(pid_t(pid), SIGCONT);
    m_frozen.clear();
}

void PgServer::stop(const QString &mode)
{
    thaw();
    if (!m_running)
        return;
    m_running = false;
    run(kBin + QStringLiteral("pg_ctl"),
        {QStringLiteral("-D"), m_root + QStringLiteral("/data"), QStringLiteral("-m"), mode, QStringLiteral("-w"),
         QStringLiteral("-t"), QString::number(kStartTimeoutSeconds), QStringLiteral("stop")},
        (kStartTimeoutSeconds + 10) * 1000);
}

QString PgServer::connection(const QString &database, const QString &schema)
{
    if (database != u"examstation" && database != u"postgres")
        psql(QStringLiteral("postgres"), QStringLiteral("create database \"%1\"").arg(database));
    QString text = QStringLiteral("host=%1 port=%2 user=%3 dbname=%4").arg(host()).arg(m_port).arg(kOwner, database);
    if (!schema.isEmpty()) {
        psql(database, QStringLiteral("create schema if not exists \"%1\"").arg(schema));
        text += QStringLiteral(" options='-c search_path=%1'").arg(schema);
    }
    return text;
}

bool PgServer::psql(const QString &database, const QString &statement)
{
    return run(kBin + QStringLiteral("psql"),
               {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-h"), m_socketFolder, QStringLiteral("-p"),
                QString::number(m_port), QStringLiteral("-U"), kOwner, QStringLiteral("-d"), database,
                QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-c"), statement},
               60000);
}

namespace {
std::unique_ptr<PgServer> testHomeServer;
}

PgServer *PgServer::forTestHomes()
{
    if (qEnvironmentVariable("EXAMSTATION_TEST_DATABASE") != u"postgresql")
        return nullptr;
    if (!testHomeServer)
        testHomeServer = std::make_unique<PgServer>();
    return testHomeServer.get();
}

void PgServer::stopTestHomes()
{
    testHomeServer.reset();
}

QString PgServer::unavailableReason(PgServer *server)
{
    if (!server)
        return QStringLiteral("no PostgreSQL server");
    if (!server->isRunning() && !server->start())
        return QStringLiteral("the private PostgreSQL server cannot start: ") + server->error();
    return {};
}
