#include "PrivateCups.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QString kBackend = QStringLiteral("/usr/lib/cups/backend/cups-pdf");
const QString kPpd = QStringLiteral("/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd");

bool writeFile(const QString &path, const QByteArray &content, QFileDevice::Permissions permissions = {})
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        return false;
    file.close();
    return permissions == QFileDevice::Permissions() || file.setPermissions(permissions);
}

// A loopback port that nothing listens on now (0 when none is found).
quint16 freeLoopbackPort()
{
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    quint16 port = 0;
    if (probe >= 0 && bind(probe, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && getsockname(probe, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    if (probe >= 0)
        close(probe);
    return port;
}

bool listening(quint16 port)
{
    const int client = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const bool connected =
        client >= 0 && ::connect(client, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    if (client >= 0)
        close(client);
    return connected;
}

} // namespace

PrivateCups::PrivateCups(const QString &folder)
    : m_folder(QDir(folder).absolutePath())
{
}

PrivateCups::~PrivateCups()
{
    if (m_cupsd.state() != QProcess::NotRunning) {
        m_cupsd.terminate();
        if (!m_cupsd.waitForFinished(10000)) {
            m_cupsd.kill();
            m_cupsd.waitForFinished(5000);
        }
    }
}

QString PrivateCups::server() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_port);
}

bool PrivateCups::start()
{
    if (geteuid() != 0) {
        m_whyNot = QStringLiteral("cupsd and the CUPS-PDF backend need root, and the tests do not run as root");
        return false;
    }
    for (const QString &needed : {QStringLiteral("/usr/sbin/cupsd"), kBackend, kPpd, QStringLiteral("/usr/bin/gs")}) {
        if (!QFileInfo::exists(needed)) {
            m_whyNot = needed + QStringLiteral(" is not installed (scripts/setup --test installs it)");
            return false;
        }
    }
    QDir(m_folder).removeRecursively();
    const QDir root(m_folder);
    for (const char *sub : {"etc", "lib/backend", "spool", "tmp", "run", "cache", "log", "pdf", "pdfspool", "cups-pdf"})
        root.mkpath(QLatin1String(sub));
    // Filters run as nobody and write their scratch files here.
    QFile::setPermissions(root.filePath(QStringLiteral("tmp")), QFileDevice::Permissions(0x7777));
    for (const char *sub : {"filter", "daemon", "notifier", "cgi-bin", "monitor", "driver"})
        QFile::link(QStringLiteral("/usr/lib/cups/") + QLatin1String(sub),
                    root.filePath(QStringLiteral("lib/") + QLatin1String(sub)));

    // The backend copy with "." for its configuration folder, and the wrapper that runs it there.
    QFile original(kBackend);
    if (!original.open(QIODevice::ReadOnly)) {
        m_whyNot = QStringLiteral("cannot read %1: %2").arg(kBackend, original.errorString());
        return false;
    }
    QByteArray backend = original.readAll();
    const QByteArray builtIn("/etc/cups\0", 10);
    const qsizetype at = backend.indexOf(builtIn);
    if (at < 0) {
        m_whyNot = QStringLiteral("the CUPS-PDF backend has no built-in configuration folder to change");
        return false;
    }
    backend.replace(at, builtIn.size(), QByteArray(".\0\0\0\0\0\0\0\0\0", 10));
    const QString configFolder = root.filePath(QStringLiteral("cups-pdf"));
    const auto owner = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    const QString wrapper =
        QStringLiteral("#!/bin/bash\ncd '%1' || exit 1\nexec -a \"$0\" '%1/cups-pdf' \"$@\"\n").arg(configFolder);
    const QString config =
        QStringLiteral("Out %1\nAnonDirName %1\nSpool %2\nLog %3\nGrp root\nLogType 3\nTitlePref 1\n")
            .arg(root.filePath(QStringLiteral("pdf")), root.filePath(QStringLiteral("pdfspool")),
                 root.filePath(QStringLiteral("log")));

    // A free loopback port: taken from the system, then handed to cupsd.
    m_port = freeLoopbackPort();
    if (m_port == 0) {
        m_whyNot = QStringLiteral("no free loopback port");
        return false;
    }
    const QString cupsdConf =
        QStringLiteral("Listen 127.0.0.1:%1\nLogLevel info\nWebInterface No\nBrowsing No\n"
                       "DefaultAuthType None\nErrorPolicy abort-job\nPreserveJobHistory Yes\nPreserveJobFiles No\n"
                       "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                       "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n"
                       "</Policy>\n")
            .arg(m_port);
    const QString filesConf =
        QStringLiteral("ServerRoot %1/etc\nServerBin %1/lib\nDataDir /usr/share/cups\nRequestRoot %1/spool\n"
                       "TempDir %1/tmp\nStateDir %1/run\nCacheDir %1/cache\nAccessLog %1/log/access_log\n"
                       "ErrorLog %1/log/error_log\nPageLog %1/log/page_log\nUser nobody\nGroup nogroup\n"
                       "SystemGroup root\nFileDevice Yes\nSandboxing Relaxed\n")
            .arg(m_folder);
    if (!writeFile(configFolder + QStringLiteral("/cups-pdf"), backend, owner)
        || !writeFile(root.filePath(QStringLiteral("lib/backend/cups-pdf")), wrapper.toUtf8(), owner)
        || !writeFile(configFolder + QStringLiteral("/cups-pdf.conf"), config.toUtf8())
        || !writeFile(root.filePath(QStringLiteral("etc/cupsd.conf")), cupsdConf.toUtf8())
        || !writeFile(root.filePath(QStringLiteral("etc/cups-files.conf")), filesConf.toUtf8())) {
        m_whyNot = QStringLiteral("cannot write the private configuration under ") + m_folder;
        return false;
    }

    m_cupsd.setProcessChannelMode(QProcess::MergedChannels);
    m_cupsd.start(QStringLiteral("/usr/sbin/cupsd"),
                  {QStringLiteral("-f"), QStringLiteral("-c"), root.filePath(QStringLiteral("etc/cupsd.conf")),
                   QStringLiteral("-s"), root.filePath(QStringLiteral("etc/cups-files.conf"))});
    if (!m_cupsd.waitForStarted(5000)) {
        m_whyNot = QStringLiteral("cupsd does not start: ") + m_cupsd.errorString();
        return false;
    }
    const QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired()) {
        if (m_cupsd.state() == QProcess::NotRunning) {
            m_whyNot = QStringLiteral("cupsd stopped at once: %1 %2")
                           .arg(QString::fromLocal8Bit(m_cupsd.readAll()).trimmed(), errorLog().right(600));
            return false;
        }
        if (listening(m_port))
            return true;
        QThread::msleep(100);
    }
    m_whyNot = QStringLiteral("cupsd does not listen on port %1 within 15 s").arg(m_port);
    return false;
}

bool PrivateCups::run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("CUPS_SERVER"), server());
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished(2000);
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool PrivateCups::addPdfQueue(const QString &name, bool makeDefault)
{
    if (!run(QStringLiteral("/usr/sbin/lpadmin"),
             {QStringLiteral("-p"), name, QStringLiteral("-E"), QStringLiteral("-v"), QStringLiteral("cups-pdf:/"),
              QStringLiteral("-P"), kPpd}))
        return false;
    return !makeDefault || run(QStringLiteral("/usr/sbin/lpadmin"), {QStringLiteral("-d"), name});
}

bool PrivateCups::setQueueDefault(const QString &name, const QString &option)
{
    return run(QStringLiteral("/usr/sbin/lpadmin"), {QStringLiteral("-p"), name, QStringLiteral("-o"), option});
}

bool PrivateCups::rejectJobs(const QString &name, const QString &reason)
{
    return run(QStringLiteral("/usr/sbin/cupsreject"), {QStringLiteral("-r"), reason, name});
}

QStringList PrivateCups::pdfFiles() const
{
    // CUPS-PDF writes through Ghostscript into the output folder; a file is complete once its
    // trailer ("%%EOF") is written.
    const QDir output(QDir(m_folder).filePath(QStringLiteral("pdf")));
    QStringList files;
    for (const QFileInfo &info : output.entryInfoList({QStringLiteral("*.pdf")}, QDir::Files, QDir::Name)) {
        QFile file(info.absoluteFilePath());
        if (info.size() < 16 || !file.open(QIODevice::ReadOnly) || !file.seek(info.size() - 16))
            continue;
        if (file.read(16).contains("%%EOF"))
            files << info.absoluteFilePath();
    }
    return files;
}

bool PrivateCups::waitForPdfs(int count, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents();
        if (pdfFiles().size() >= count)
            return true;
        QThread::msleep(100);
    }
    return false;
}

QString PrivateCups::errorLog() const
{
    QFile log(QDir(m_folder).filePath(QStringLiteral("log/error_log")));
    return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
}
