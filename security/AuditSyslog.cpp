#include "security/AuditSyslog.h"

#include "core/AppError.h"
#include "core/Audit.h"
#include "core/inifunc.h"
#include "records/Database.h"
#include "security/Logging.h"

#include <QCoreApplication>
#include <QXmlStreamWriter>

#include <fcntl.h>
#include <netdb.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>

SyslogSettings SyslogSettings::fromConfig()
{
    const QString section = QStringLiteral("audit");
    const auto read = [&section](const char *key) {
        return ReadConfigString(section, QString::fromLatin1(key), QString()).trimmed();
    };
    SyslogSettings settings;
    settings.host = read("syslog_host");
    bool valid = false;
    const uint port = read("syslog_port").toUInt(&valid);
    if (valid && port > 0 && port <= 65535)
        settings.port = static_cast<quint16>(port);
    settings.caFile = read("syslog_ca");
    settings.certificateFile = read("syslog_certificate");
    settings.keyFile = read("syslog_key");
    return settings;
}

namespace AuditSyslog {
namespace {

void codedValue(QXmlStreamWriter &xml, const char *element, const QString &code, const char *system,
                const QString &text)
{
    xml.writeEmptyElement(QString::fromLatin1(element));
    xml.writeAttribute(QStringLiteral("csd-code"), code);
    xml.writeAttribute(QStringLiteral("codeSystemName"), QString::fromLatin1(system));
    xml.writeAttribute(QStringLiteral("originalText"), text);
}

const Audit::Codes *codesNamed(const QString &name)
{
    for (int i = 0; i <= static_cast<int>(Audit::Event::AuditRead); ++i) {
        const Audit::Codes &codes = Audit::codes(static_cast<Audit::Event>(i));
        if (name == QLatin1String(codes.name))
            return &codes;
    }
    return nullptr;
}

} // namespace

QByteArray auditMessage(const AuditEntry &entry)
{
    const Audit::Codes *codes = codesNamed(entry.event);
    QByteArray text;
    QXmlStreamWriter xml(&text);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("AuditMessage"));

    xml.writeStartElement(QStringLiteral("EventIdentification"));
    xml.writeAttribute(QStringLiteral("EventActionCode"), entry.action);
    xml.writeAttribute(QStringLiteral("EventDateTime"), entry.at);
    xml.writeAttribute(QStringLiteral("EventOutcomeIndicator"), QString::number(entry.outcome));
    codedValue(xml, "EventID", entry.eventId, "DCM", codes ? QString::fromLatin1(codes->eventIdMeaning) : entry.event);
    if (!entry.eventType.isEmpty())
        codedValue(xml, "EventTypeCode", entry.eventType, "DCM",
                   codes ? QString::fromLatin1(codes->typeMeaning) : entry.event);
    xml.writeEndElement();

    // The operator, who asked for what happened.
    xml.writeEmptyElement(QStringLiteral("ActiveParticipant"));
    xml.writeAttribute(QStringLiteral("UserID"), entry.operatorName);
    xml.writeAttribute(QStringLiteral("UserIsRequestor"), QStringLiteral("true"));
    // The workstation, where it happened.
    xml.writeStartElement(QStringLiteral("ActiveParticipant"));
    xml.writeAttribute(QStringLiteral("UserID"), entry.aeTitle.isEmpty() ? entry.host : entry.aeTitle);
    xml.writeAttribute(QStringLiteral("AlternativeUserID"), QStringLiteral("AETITLES=") + entry.aeTitle);
    xml.writeAttribute(QStringLiteral("UserIsRequestor"), QStringLiteral("false"));
    xml.writeAttribute(QStringLiteral("NetworkAccessPointID"), entry.host);
    xml.writeAttribute(QStringLiteral("NetworkAccessPointTypeCode"), QStringLiteral("1"));
    codedValue(xml, "RoleIDCode", QStringLiteral("110153"), "DCM", QStringLiteral("Source Role ID"));
    xml.writeEndElement();

    xml.writeStartElement(QStringLiteral("AuditSourceIdentification"));
    xml.writeAttribute(QStringLiteral("AuditSourceID"), entry.host);
    codedValue(xml, "AuditSourceTypeCode", QStringLiteral("1"), "DCM", QStringLiteral("End-user display device"));
    xml.writeEndElement();

    if (!entry.patient.isEmpty()) {
        xml.writeStartElement(QStringLiteral("ParticipantObjectIdentification"));
        xml.writeAttribute(QStringLiteral("ParticipantObjectID"), entry.patient);
        xml.writeAttribute(QStringLiteral("ParticipantObjectTypeCode"), QStringLiteral("1"));
        xml.writeAttribute(QStringLiteral("ParticipantObjectTypeCodeRole"), QStringLiteral("1"));
        codedValue(xml, "ParticipantObjectIDTypeCode", QStringLiteral("2"), "RFC-3881",
                   QStringLiteral("Patient Number"));
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndDocument();
    return text.trimmed();
}

QByteArray framedSyslog(const AuditEntry &entry, qint64 processId)
{
    // RFC 5424 fields are printable US-ASCII without spaces; "-" stands for an empty one.
    const auto field = [](const QString &text, int length) {
        QByteArray out;
        for (const QChar c : text.left(length))
            out += (c.unicode() > 32 && c.unicode() < 127) ? static_cast<char>(c.unicode()) : '_';
        return out.isEmpty() ? QByteArray("-") : out;
    };
    // Facility authpriv (10), severity notice (5); the message in UTF-8, marked by its BOM.
    const QByteArray message = "<85>1 " + field(entry.at, 32) + ' ' + field(entry.host, 255) + " examstation "
        + QByteArray::number(processId) + " DICOM+RFC3881 - \xEF\xBB\xBF" + auditMessage(entry);
    return QByteArray::number(message.size()) + ' ' + message;
}

} // namespace AuditSyslog

// One TLS connection to the repository; every step waits at most kTimeoutMs.
class AuditForwarder::Connection {
public:
    static constexpr int kTimeoutMs = 2000;

    explicit Connection(const SyslogSettings &settings)
        : m_settings(settings)
    {
    }
    ~Connection() { close(); }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    bool isOpen() const { return m_ssl != nullptr; }

    void open()
    {
        close();
        if (!m_context)
            makeContext();
        connectSocket();
        m_ssl = SSL_new(m_context);
        SSL_set_fd(m_ssl, m_socket);
        SSL_set_tlsext_host_name(m_ssl, m_settings.host.toUtf8().constData());
        SSL_set1_host(m_ssl, m_settings.host.toUtf8().constData());
        bool accepted = SSL_connect(m_ssl) == 1;
        if (accepted) {
            // With TLS 1.3 a repository that refuses this workstation's certificate says so only
            // after the handshake: a moment's wait for its answer keeps the first message.
            pollfd answer{.fd = m_socket, .events = POLLIN, .revents = 0};
            ::poll(&answer, 1, 200);
            accepted = stillOpen();
        }
        if (!accepted) {
            const QString why = tlsError();
            close();
            throw AppError(QStringLiteral("TLS to %1 failed: %2").arg(m_settings.host, why));
        }
    }

    // False when the repository closed the connection meanwhile (a stopped repository says so
    // before the next message, which would otherwise be lost in the dying connection).
    bool stillOpen()
    {
        pollfd check{.fd = m_socket, .events = POLLIN, .revents = 0};
        if (::poll(&check, 1, 0) <= 0)
            return true;
        // Without waiting: what is there may be the session tickets of TLS 1.3 only.
        const int flags = fcntl(m_socket, F_GETFL);
        fcntl(m_socket, F_SETFL, flags | O_NONBLOCK);
        char byte = 0;
        const int read = SSL_peek(m_ssl, &byte, 1);
        const int error = read > 0 ? SSL_ERROR_NONE : SSL_get_error(m_ssl, read);
        fcntl(m_socket, F_SETFL, flags);
        return error == SSL_ERROR_NONE || error == SSL_ERROR_WANT_READ;
    }

    void write(const QByteArray &bytes)
    {
        if (SSL_write(m_ssl, bytes.constData(), static_cast<int>(bytes.size())) != bytes.size()) {
            const QString why = tlsError();
            close();
            throw AppError(QStringLiteral("sending to %1 failed: %2").arg(m_settings.host, why));
        }
    }

    void close()
    {
        if (m_ssl) {
            SSL_free(m_ssl);
            m_ssl = nullptr;
        }
        const std::lock_guard lock(m_socketMutex);
        if (m_socket >= 0) {
            ::close(m_socket);
            m_socket = -1;
        }
    }

    // Any thread: ends what the connection waits for at once, and every later open.
    void interrupt()
    {
        const std::lock_guard lock(m_socketMutex);
        m_interrupted = true;
        if (m_socket >= 0)
            ::shutdown(m_socket, SHUT_RDWR);
    }

    void freeContext()
    {
        close();
        if (m_context) {
            SSL_CTX_free(m_context);
            m_context = nullptr;
        }
    }

private:
    static QString tlsError()
    {
        const unsigned long code = ERR_get_error();
        ERR_clear_error();
        if (code == 0)
            return errno ? QString::fromLocal8Bit(strerror(errno)) : QStringLiteral("connection closed");
        char text[256];
        ERR_error_string_n(code, text, sizeof text);
        return QString::fromLatin1(text);
    }

    void makeContext()
    {
        m_context = SSL_CTX_new(TLS_client_method());
        SSL_CTX_set_min_proto_version(m_context, TLS1_2_VERSION);
        SSL_CTX_set_verify(m_context, SSL_VERIFY_PEER, nullptr);
        const bool loaded = m_settings.caFile.isEmpty()
            ? SSL_CTX_set_default_verify_paths(m_context) == 1
            : SSL_CTX_load_verify_locations(m_context, m_settings.caFile.toLocal8Bit().constData(), nullptr) == 1;
        bool identity = true;
        if (!m_settings.certificateFile.isEmpty())
            identity =
                SSL_CTX_use_certificate_chain_file(m_context, m_settings.certificateFile.toLocal8Bit().constData()) == 1
                && SSL_CTX_use_PrivateKey_file(
                       m_context,
                       (m_settings.keyFile.isEmpty() ? m_settings.certificateFile : m_settings.keyFile)
                           .toLocal8Bit()
                           .constData(),
                       SSL_FILETYPE_PEM)
                    == 1;
        if (!loaded || !identity) {
            const QString why = tlsError();
            freeContext();
            throw AppError(QStringLiteral("the audit repository's TLS files cannot be read: %1").arg(why));
        }
    }

    bool interrupted() const
    {
        const std::lock_guard lock(m_socketMutex);
        return m_interrupted;
    }

    void connectSocket()
    {
        addrinfo hints{};
        hints.ai_socktype = SOCK_STREAM;
        addrinfo *found = nullptr;
        if (const int failed = getaddrinfo(m_settings.host.toUtf8().constData(),
                                           QByteArray::number(m_settings.port).constData(), &hints, &found))
            throw AppError(QStringLiteral("%1: %2").arg(m_settings.host, QString::fromLocal8Bit(gai_strerror(failed))));
        QString why;
        for (addrinfo *address = found; address && m_socket < 0; address = address->ai_next) {
            const int fd = ::socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK, address->ai_protocol);
            if (fd < 0)
                continue;
            {
                const std::lock_guard lock(m_socketMutex);
                if (m_interrupted) {
                    ::close(fd);
                    break;
                }
                m_socket = fd;
            }
            bool connected = ::connect(fd, address->ai_addr, address->ai_addrlen) == 0;
            if (!connected && errno == EINPROGRESS) {
                // In slices, so that an interrupt is seen within a tenth of a second.
                pollfd wait{.fd = fd, .events = POLLOUT, .revents = 0};
                int error = ETIMEDOUT;
                socklen_t length = sizeof error;
                for (int waited = 0; waited < kTimeoutMs && !interrupted(); waited += 100) {
                    if (::poll(&wait, 1, 100) == 1) {
                        getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
                        break;
                    }
                }
                connected = error == 0;
                errno = error;
            }
            if (!connected) {
                why = QString::fromLocal8Bit(strerror(errno));
                close();
                continue;
            }
            // Blocking from here, with the same bound on every read and write.
            const int flags = fcntl(fd, F_GETFL);
            fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
            const timeval timeout{.tv_sec = kTimeoutMs / 1000, .tv_usec = 0};
            setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
            setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        }
        freeaddrinfo(found);
        if (interrupted()) {
            close();
            throw AppError(QStringLiteral("the program ends"));
        }
        if (m_socket < 0)
            throw AppError(QStringLiteral("%1 port %2: %3").arg(m_settings.host).arg(m_settings.port).arg(why));
    }

    const SyslogSettings m_settings;
    SSL_CTX *m_context = nullptr;
    SSL *m_ssl = nullptr;
    mutable std::mutex m_socketMutex;
    // guarded by m_socketMutex; written by this connection's thread only
    int m_socket = -1;
    bool m_interrupted = false;
};

AuditForwarder::AuditForwarder(const DatabaseParameters &parameters, const SyslogSettings &settings,
                               const QString &station)
    : m_parameters(parameters)
    , m_settings(settings)
    , m_station(station)
    , m_connection(std::make_unique<Connection>(settings))
{
    m_worker = std::thread([this] { run(); });
}

AuditForwarder::~AuditForwarder()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_connection->interrupt();
    m_worker.join();
}

void AuditForwarder::wake()
{
    {
        const std::lock_guard lock(m_mutex);
        m_pending = true;
    }
    m_wake.notify_one();
}

bool AuditForwarder::sendQueued(Database &db, Connection &connection)
{
    const QList<AuditEntry> entries = AuditStore::queuedForSyslog(db, m_station, 100);
    QList<qint64> sent;
    const auto takeOff = [&] {
        if (!sent.isEmpty())
            AuditStore::sentToSyslog(db, sent);
    };
    try {
        for (const AuditEntry &entry : entries) {
            {
                const std::lock_guard lock(m_mutex);
                if (m_stopping)
                    break;
            }
            if (connection.isOpen() && !connection.stillOpen())
                connection.close();
            if (!connection.isOpen())
                connection.open();
            connection.write(AuditSyslog::framedSyslog(entry, QCoreApplication::applicationPid()));
            sent.append(entry.id);
        }
    } catch (...) {
        takeOff();
        throw;
    }
    takeOff();
    return entries.size() == 100;
}

void AuditForwarder::run()
{
    // A write to a connection the repository reset fails with EPIPE instead of ending the
    // program, whether or not the process ignores SIGPIPE.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    Database db;
    Connection &connection = *m_connection;
    std::chrono::seconds backOff{0};
    QString lastFailure;
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (backOff.count() > 0)
            m_wake.wait_for(lock, backOff, [this] { return m_stopping; });
        else
            m_wake.wait(lock, [this] { return m_stopping || m_pending; });
        if (m_stopping)
            break;
        m_pending = false;
        lock.unlock();
        bool more = false;
        try {
            if (!db.isOpen())
                db.open(m_parameters);
            more = sendQueued(db, connection);
            if (!lastFailure.isEmpty())
                qCInfo(lcSecurity) << "the audit repository takes the audit messages again";
            lastFailure.clear();
            backOff = std::chrono::seconds(0);
        } catch (const std::exception &failure) {
            const QString why = QString::fromLocal8Bit(failure.what());
            // Said once per kind of failure, not on every try.
            if (why != lastFailure)
                qCWarning(lcSecurity).noquote() << "audit messages wait for the audit repository:" << why;
            lastFailure = why;
            backOff = std::clamp(backOff * 2, std::chrono::seconds(1), std::chrono::seconds(60));
            connection.close();
            db.close();
        }
        lock.lock();
        if (more || backOff.count() > 0)
            m_pending = true;
    }
    lock.unlock();
    connection.freeContext();
}
