#include "DicomServers.h"

#include "MediaProbe.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QStandardPaths>
#include <QStringEncoder>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>

namespace {

QString serverFolder()
{
    const QString folder = QStringLiteral(EXAMSTATION_SERVER_DIR);
    QDir().mkpath(folder);
    return folder + QStringLiteral("/server-XXXXXX");
}

void endProcess(std::unique_ptr<QProcess> &process)
{
    if (!process)
        return;
    process->terminate();
    if (!process->waitForFinished(15000)) {
        process->kill();
        process->waitForFinished(5000);
    }
    process.reset();
}

// Debian's Orthanc and wlmscpfs are built on a DCMTK that leaves Nagle's algorithm on unless
// told otherwise: every answer would wait for the client's delayed acknowledgement.
QProcessEnvironment serverEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TCP_NODELAY"), QStringLiteral("1"));
    return environment;
}

DicomPeer loopbackPeer(quint16 port, const QString &calledAe)
{
    return {.host = QStringLiteral("127.0.0.1"),
            .port = port,
            .calledAe = calledAe,
            .callingAe = QStringLiteral("EXAMSTATION"),
            .connectTimeoutSeconds = 5,
            .dimseTimeoutSeconds = 10};
}

void sendSignal(const std::unique_ptr<QProcess> &process, int signal)
{
    if (process && process->processId() > 0)
        ::kill(pid_t(process->processId()), signal);
}

bool listening(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    return socket.waitForConnected(500);
}

} // namespace

quint16 freeLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// ---- certificates --------------------------------------------------------------------------

TestCertificates makeTestCertificates(const QString &folder)
{
    TestCertificates files;
    const auto path = [&](const char *name) { return folder + u'/' + QLatin1String(name); };
    const auto openssl = [&](const QStringList &arguments) {
        QProcess run;
        run.setProcessChannelMode(QProcess::MergedChannels);
        run.start(QStringLiteral("openssl"), arguments);
        if (!run.waitForFinished(60000) || run.exitCode() != 0) {
            files.whyNot = QStringLiteral("openssl %1 failed: %2")
                               .arg(arguments.join(u' '), QString::fromUtf8(run.readAll().right(300)));
            return false;
        }
        return true;
    };
    const auto ca = [&](const char *name, const char *subject) {
        return openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", subject, "-keyout",
                        path(name) + ".key", "-out", path(name) + ".crt"});
    };
    const auto signedBy = [&](const char *name, const char *subject) {
        return openssl({"req", "-newkey", "rsa:2048", "-nodes", "-subj", subject, "-keyout", path(name) + ".key",
                        "-out", path(name) + ".csr"})
            && openssl({"x509", "-req", "-days", "2", "-in", path(name) + ".csr", "-CA", path("ca") + ".crt", "-CAkey",
                        path("ca") + ".key", "-CAcreateserial", "-out", path(name) + ".crt"});
    };
    if (!ca("ca", "/CN=ExamStation test CA") || !ca("other-ca", "/CN=Another CA") || !signedBy("pacs", "/CN=localhost")
        || !signedBy("station", "/CN=EXAMSTATION"))
        return files;
    files.ca = path("ca") + ".crt";
    files.otherCa = path("other-ca") + ".crt";
    files.pacsCertificate = path("pacs") + ".crt";
    files.pacsKey = path("pacs") + ".key";
    files.stationCertificate = path("station") + ".crt";
    files.stationKey = path("station") + ".key";
    return files;
}

DicomPeer overTls(DicomPeer peer, const TestCertificates &files, const QString &ca)
{
    peer.tls = true;
    peer.certificate = files.stationCertificate;
    peer.privateKey = files.stationKey;
    peer.caCertificates = ca;
    return peer;
}

// ---- Orthanc -------------------------------------------------------------------------------

OrthancServer::OrthancServer()
    : m_dir(serverFolder())
{
    m_dicomPort = freeLoopbackPort();
    m_httpPort = freeLoopbackPort();
}

OrthancServer::~OrthancServer()
{
    stop();
}

bool OrthancServer::start()
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("Orthanc"), {"/usr/sbin", "/usr/bin"});
    if (program.isEmpty()) {
        m_whyNot = QStringLiteral("Orthanc is not installed (Debian package orthanc)");
        return false;
    }
    const QString storage = m_dir.path() + QStringLiteral("/storage");
    const QByteArray config = QStringLiteral(R"({
  "Name": "ExamStation test PACS",
  "StorageDirectory": "%1",
  "IndexDirectory": "%1",
  "DicomAet": "ORTHANC",
  "DicomPort": %2,
  "HttpPort": %3,
  "DicomServerEnabled": true,
  "HttpServerEnabled": true,
  "RemoteAccessAllowed": false,
  "AuthenticationEnabled": false,
  "DicomCheckCalledAet": true,
  "DicomAlwaysAllowStore": true,
  %4
  %5
  "Plugins": []
})")
                                  .arg(storage)
                                  .arg(m_dicomPort)
                                  .arg(m_httpPort)
                                  .arg(m_tls ? QStringLiteral(R"("DicomTlsEnabled": true,
  "DicomTlsCertificate": "%1",
  "DicomTlsPrivateKey": "%2",
  "DicomTlsTrustedCertificates": "%3",
  "DicomTlsRemoteCertificateRequired": true,)")
                                                   .arg(m_tls->pacsCertificate, m_tls->pacsKey, m_tls->ca)
                                             : QString())
                                  .arg(m_commitPort == 0 ? QString()
                                                         : QStringLiteral(R"("DicomModalities": {"station": {
    "AET": "EXAMSTATION", "Host": "127.0.0.1", "Port": %1, "UseDicomTls": %2}},)")
                                                               .arg(m_commitPort)
                                                               .arg(m_tls ? "true" : "false"))
                                  .toUtf8();
    QFile file(m_dir.path() + QStringLiteral("/orthanc.json"));
    if (!file.open(QIODevice::WriteOnly) || file.write(config) != config.size()) {
        m_whyNot = QStringLiteral("cannot write the Orthanc configuration");
        return false;
    }
    file.close();
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->setStandardOutputFile(m_dir.path() + QStringLiteral("/orthanc.log"), QIODevice::Append);
    m_process->setProcessEnvironment(serverEnvironment());
    m_process->start(program, {file.fileName()});
    if (!m_process->waitForStarted(10000)) {
        m_whyNot = QStringLiteral("Orthanc did not start: %1").arg(m_process->errorString());
        m_process.reset();
        return false;
    }
    const QDeadlineTimer deadline(30000);
    while (!deadline.hasExpired()) {
        if (m_process->state() != QProcess::Running)
            break;
        if (get(QStringLiteral("/system")).isObject())
            return true;
        QThread::msleep(100);
    }
    QFile log(m_dir.path() + QStringLiteral("/orthanc.log"));
    log.open(QIODevice::ReadOnly);
    m_whyNot =
        QStringLiteral("Orthanc did not answer within 30 s: %1").arg(QString::fromUtf8(log.readAll().right(600)));
    endProcess(m_process);
    return false;
}

void OrthancServer::stop()
{
    thaw(); // a frozen server cannot end
    endProcess(m_process);
}

DicomPeer OrthancServer::peer() const
{
    return loopbackPeer(m_dicomPort, aet());
}

void OrthancServer::freeze()
{
    sendSignal(m_process, SIGSTOP);
}

void OrthancServer::thaw()
{
    sendSignal(m_process, SIGCONT);
}

QByteArray OrthancServer::getRaw(const QString &path) const
{
    QNetworkAccessManager network;
    QNetworkReply *reply =
        network.get(QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_httpPort).arg(path))));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    QByteArray body;
    if (reply->isFinished() && reply->error() == QNetworkReply::NoError)
        body = reply->readAll();
    reply->abort();
    delete reply;
    return body;
}

bool OrthancServer::remove(const QString &path) const
{
    QNetworkAccessManager network;
    QNetworkReply *reply = network.deleteResource(
        QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_httpPort).arg(path))));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    const bool done = reply->isFinished() && reply->error() == QNetworkReply::NoError;
    reply->abort();
    delete reply;
    return done;
}

QJsonValue OrthancServer::get(const QString &path) const
{
    const QJsonDocument document = QJsonDocument::fromJson(getRaw(path));
    if (document.isObject())
        return document.object();
    if (document.isArray())
        return document.array();
    return {};
}

QString OrthancServer::iodErrors() const
{
    QStringList errors;
    for (const QJsonValue &id : get(QStringLiteral("/instances")).toArray()) {
        const QString file = m_dir.path() + QStringLiteral("/check.dcm");
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly)
            || out.write(getRaw(QStringLiteral("/instances/%1/file").arg(id.toString()))) <= 0)
            return QStringLiteral("cannot fetch instance %1").arg(id.toString());
        out.close();
        const QString sopClass =
            QString::fromLatin1(getRaw(QStringLiteral("/instances/%1/metadata/SopClassUid").arg(id.toString())));
        for (const QString &line : DicomVerifyErrors(file))
            errors.append(QStringLiteral("%1: %2").arg(sopClass, line));
    }
    return errors.join(u'\n');
}

// ---- worklist ------------------------------------------------------------------------------

WorklistServer::WorklistServer()
    : m_dir(serverFolder())
{
    m_port = freeLoopbackPort();
}

WorklistServer::~WorklistServer()
{
    stop();
}

bool WorklistServer::addItem(const QString &aeTitle, const QString &dump, const char *encoding)
{
    const QString folder = m_dir.path() + u'/' + aeTitle;
    QDir().mkpath(folder);
    QFile lock(folder + QStringLiteral("/lockfile"));
    lock.open(QIODevice::WriteOnly);
    lock.close();
    const QString dumpFile = QStringLiteral("%1/item%2.dump").arg(folder).arg(++m_items);
    QFile text(dumpFile);
    if (!text.open(QIODevice::WriteOnly))
        return false;
    QStringEncoder encoder(encoding);
    text.write(encoder.encode(dump));
    text.close();
    QProcess dump2dcm;
    dump2dcm.setProcessChannelMode(QProcess::MergedChannels);
    dump2dcm.start(QStringLiteral("dump2dcm"), {dumpFile, QStringLiteral("%1/item%2.wl").arg(folder).arg(m_items)});
    if (!dump2dcm.waitForFinished(20000) || dump2dcm.exitCode() != 0) {
        m_whyNot = QStringLiteral("dump2dcm failed: %1%2").arg(dump2dcm.errorString(), dump2dcm.readAll());
        return false;
    }
    return true;
}

bool WorklistServer::start()
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("wlmscpfs"));
    if (program.isEmpty()) {
        m_whyNot = QStringLiteral("wlmscpfs is not installed (Debian package dcmtk)");
        return false;
    }
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->setStandardOutputFile(m_dir.path() + QStringLiteral("/wlmscpfs.log"));
    m_process->setProcessEnvironment(serverEnvironment());
    // -csk: each answer declares the character set its file declares, none when the file has none.
    m_process->start(program, {QStringLiteral("-csk"), QStringLiteral("-dfp"), m_dir.path(), QString::number(m_port)});
    if (!m_process->waitForStarted(10000)) {
        m_whyNot = QStringLiteral("wlmscpfs did not start: %1").arg(m_process->errorString());
        m_process.reset();
        return false;
    }
    const QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired() && m_process->state() == QProcess::Running) {
        if (listening(m_port))
            return true;
        QThread::msleep(100);
    }
    m_whyNot = QStringLiteral("wlmscpfs did not listen on port %1 within 15 s").arg(m_port);
    endProcess(m_process);
    return false;
}

void WorklistServer::stop()
{
    thaw();
    endProcess(m_process);
}

DicomPeer WorklistServer::peer(const QString &calledAe) const
{
    return loopbackPeer(m_port, calledAe);
}

void WorklistServer::freeze()
{
    sendSignal(m_process, SIGSTOP);
}

void WorklistServer::thaw()
{
    sendSignal(m_process, SIGCONT);
}

// ---- the procedure step SCP ------------------------------------------------------------------

MppsServer::MppsServer()
    : m_dir(serverFolder())
{
    m_port = freeLoopbackPort();
}

MppsServer::~MppsServer()
{
    stop();
}

bool MppsServer::start()
{
    const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
    const QString npm = QStandardPaths::findExecutable(QStringLiteral("npm"));
    if (node.isEmpty() || npm.isEmpty()) {
        m_whyNot = QStringLiteral("Node.js is not installed (Debian packages nodejs, npm)");
        return false;
    }
    const QString source = QStringLiteral(EXAMSTATION_PEERS_SOURCE);
    const QString peers = QStringLiteral(EXAMSTATION_PEERS_DIR);
    if (!QFile::exists(peers + QStringLiteral("/node_modules/dcmjs-dimse"))) {
        QDir().mkpath(peers);
        for (const char *file : {"package.json", "package-lock.json"}) {
            QFile::remove(peers + u'/' + QLatin1String(file));
            QFile::copy(source + u'/' + QLatin1String(file), peers + u'/' + QLatin1String(file));
        }
        QProcess install;
        install.setProcessChannelMode(QProcess::MergedChannels);
        install.setWorkingDirectory(peers);
        install.start(npm, {QStringLiteral("ci"), QStringLiteral("--no-audit"), QStringLiteral("--no-fund")});
        if (!install.waitForFinished(300000) || install.exitCode() != 0) {
            m_whyNot =
                QStringLiteral("npm ci of tests/peers failed: %1").arg(QString::fromUtf8(install.readAll().right(400)));
            return false;
        }
    }
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->setStandardOutputFile(m_dir.path() + QStringLiteral("/mpps.log"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("NODE_PATH"), peers + QStringLiteral("/node_modules"));
    m_process->setProcessEnvironment(environment);
    m_process->start(node,
                     {source + QStringLiteral("/mpps-scp.js"), QString::number(m_port), QStringLiteral("EXAMSTATION"),
                      m_dir.path() + QStringLiteral("/received.jsonl")});
    const QDeadlineTimer deadline(15000);
    m_process->waitForStarted(10000);
    while (!deadline.hasExpired() && m_process->state() == QProcess::Running) {
        if (listening(m_port))
            return true;
        QThread::msleep(100);
    }
    QFile log(m_dir.path() + QStringLiteral("/mpps.log"));
    log.open(QIODevice::ReadOnly);
    m_whyNot =
        QStringLiteral("the MPPS peer did not listen within 15 s: %1").arg(QString::fromUtf8(log.readAll().right(400)));
    endProcess(m_process);
    return false;
}

void MppsServer::stop()
{
    endProcess(m_process);
}

DicomPeer MppsServer::peer() const
{
    return loopbackPeer(m_port, QStringLiteral("RIS"));
}

QJsonArray MppsServer::received() const
{
    QFile file(m_dir.path() + QStringLiteral("/received.jsonl"));
    QJsonArray messages;
    if (!file.open(QIODevice::ReadOnly))
        return messages;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (!line.trimmed().isEmpty())
            messages.append(QJsonDocument::fromJson(line).object());
    }
    return messages;
}

// ---- a name server that never answers --------------------------------------------------------

UnansweringNameServer::UnansweringNameServer()
    : m_dir(serverFolder())
{
    QFile conf(m_dir.filePath(QStringLiteral("resolv.conf")));
    if (conf.open(QIODevice::WriteOnly))
        conf.write("nameserver 127.0.0.1\noptions timeout:30 attempts:2\n");
}

bool UnansweringNameServer::usable()
{
    QProcess probe;
    probe.setProcessChannelMode(QProcess::MergedChannels);
    const QStringList wrapped = command() + QStringList{QStringLiteral("true")};
    probe.start(wrapped.first(), wrapped.mid(1));
    if (!probe.waitForFinished(20000) || probe.exitCode() != 0) {
        m_whyNot = QStringLiteral("cannot run python3 in namespaces of its own (unshare -rmn): %1")
                       .arg(QString::fromLocal8Bit(probe.readAll()).trimmed());
        return false;
    }
    return true;
}

QStringList UnansweringNameServer::command() const
{
    // The name server's socket takes every query; it is there before the program starts and
    // goes when the program (its parent, after the exec) ends.
    const QString script =
        QStringLiteral("dir=$1; shift; rm -f \"$dir/ready\"; ip link set lo up && mount --bind \"$dir/resolv.conf\" "
                       "/etc/resolv.conf || exit 97\n"
                       "python3 -c 'import os, socket, sys, time\n"
                       "s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind((\"127.0.0.1\", 53))\n"
                       "parent = os.getppid(); open(sys.argv[1], \"w\").close()\n"
                       "while os.getppid() == parent: time.sleep(0.2)' \"$dir/ready\" &\n"
                       "while [ ! -e \"$dir/ready\" ]; do sleep 0.05; done\n"
                       "exec \"$@\"\n");
    return {QStringLiteral("unshare"),
            QStringLiteral("-rmn"),
            QStringLiteral("sh"),
            QStringLiteral("-c"),
            script,
            QStringLiteral("sh"),
            m_dir.path()};
}

// ---- a host that never answers ---------------------------------------------------------------

UnansweringPort::UnansweringPort()
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    socklen_t size = sizeof address;
    if (::bind(m_listener, reinterpret_cast<sockaddr *>(&address), size) != 0 || ::listen(m_listener, 0) != 0
        || ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &size) != 0)
        return;
    m_port = ntohs(address.sin_port);
    // A backlog of 0 holds one connection; the second waits in the SYN queue and fills it.
    for (int &queued : m_queued) {
        queued = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        ::connect(queued, reinterpret_cast<sockaddr *>(&address), size);
    }
    QThread::msleep(100);
}

UnansweringPort::~UnansweringPort()
{
    for (int queued : m_queued)
        ::close(queued);
    ::close(m_listener);
}

SyslogServer::SyslogServer()
    : m_dir(serverFolder())
    , m_port(freeLoopbackPort())
{
}

SyslogServer::~SyslogServer()
{
    stop();
}

bool SyslogServer::makeCertificates()
{
    const auto openssl = [this](const QStringList &arguments) {
        QProcess process;
        process.setWorkingDirectory(m_dir.path());
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral("openssl"), arguments);
        return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit
            && process.exitCode() == 0;
    };
    QFile names(m_dir.path() + QStringLiteral("/names.ext"));
    return names.open(QIODevice::WriteOnly) && names.write("subjectAltName=DNS:localhost\n") > 0
        && (names.close(), true)
        && openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=Hospital CA",
                    "-keyout", "ca.key", "-out", "ca.crt"})
        && openssl({"req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost", "-keyout", "server.key", "-out",
                    "server.csr"})
        && openssl({"x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey", "ca.key", "-CAcreateserial",
                    "-days", "2", "-extfile", "names.ext", "-out", "server.crt"})
        && openssl({"req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=workstation", "-keyout", "client.key", "-out",
                    "client.csr"})
        && openssl({"x509", "-req", "-in", "client.csr", "-CA", "ca.crt", "-CAkey", "ca.key", "-CAcreateserial",
                    "-days", "2", "-out", "client.crt"});
}

bool SyslogServer::start()
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("rsyslogd"), {"/usr/sbin", "/sbin"});
    if (program.isEmpty() || !QFile::exists(QStringLiteral("/usr/lib/x86_64-linux-gnu/rsyslog/lmnsd_ossl.so"))) {
        m_whyNot = QStringLiteral("rsyslogd with its OpenSSL driver is not installed (rsyslog, rsyslog-openssl)");
        return false;
    }
    const QString dir = m_dir.path();
    if (!QFile::exists(caFile()) && !makeCertificates()) {
        m_whyNot = QStringLiteral("openssl could not make the test certificates");
        return false;
    }
    QDir().mkpath(dir + QStringLiteral("/work"));
    const QByteArray config = QStringLiteral(R"(global(workDirectory="%1/work"
       defaultNetstreamDriver="ossl" defaultNetstreamDriverCAFile="%1/ca.crt"
       defaultNetstreamDriverCertFile="%1/server.crt" defaultNetstreamDriverKeyFile="%1/server.key"
       maxMessageSize="64k")
module(load="imtcp" streamDriver.name="ossl" streamDriver.mode="1" streamDriver.authMode="x509/certvalid")
input(type="imtcp" address="127.0.0.1" port="%2")
template(name="raw" type="string" string="%rawmsg%\n")
action(type="omfile" file="%1/received.log" template="raw" flushOnTXEnd="on" asyncWriting="off")
)")
                                  .arg(dir)
                                  .arg(m_port)
                                  .toUtf8();
    QFile file(dir + QStringLiteral("/rsyslog.conf"));
    if (!file.open(QIODevice::WriteOnly) || file.write(config) != config.size()) {
        m_whyNot = QStringLiteral("cannot write the rsyslogd configuration");
        return false;
    }
    file.close();
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->setStandardOutputFile(dir + QStringLiteral("/rsyslogd.log"), QIODevice::Append);
    m_process->start(program, {"-n", "-f", file.fileName(), "-i", dir + QStringLiteral("/rsyslogd.pid")});
    if (!m_process->waitForStarted(10000)) {
        m_whyNot = QStringLiteral("rsyslogd did not start: %1").arg(m_process->errorString());
        m_process.reset();
        return false;
    }
    const QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired() && m_process->state() == QProcess::Running) {
        if (listening(m_port))
            return true;
        QThread::msleep(100);
    }
    QFile log(dir + QStringLiteral("/rsyslogd.log"));
    log.open(QIODevice::ReadOnly);
    m_whyNot =
        QStringLiteral("rsyslogd did not listen on port %1: %2").arg(m_port).arg(QString::fromLocal8Bit(log.readAll()));
    endProcess(m_process);
    return false;
}

void SyslogServer::stop()
{
    endProcess(m_process);
}

QList<QByteArray> SyslogServer::received() const
{
    QFile file(m_dir.path() + QStringLiteral("/received.log"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines = file.readAll().split('\n');
    lines.removeAll(QByteArray());
    return lines;
}
