#include "dicom/DicomAssociation.h"

#include "dicom/Logging.h"

#include <QDeadlineTimer>

#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/dcmlayer.h>
#include <dcmtk/dcmnet/dcmtrans.h>
#include <dcmtk/dcmnet/scu.h>
#include <dcmtk/dcmtls/tlslayer.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace {

// The connection DCMTK reads and writes, known to the task's DicomCancel while it is open.
class WatchedConnection : public DcmTCPConnection {
public:
    WatchedConnection(DcmNativeSocketType socket, DicomCancel *cancel)
        : DcmTCPConnection(socket)
        , m_cancel(cancel)
    {
        if (m_cancel)
            m_cancel->attach(socket);
    }
    ~WatchedConnection() override { forget(); }
    void close() override
    {
        forget();
        DcmTCPConnection::close();
    }

private:
    void forget()
    {
        if (m_cancel)
            m_cancel->detach();
    }
    DicomCancel *m_cancel;
};

} // namespace

// DCMTK asks its transport layer for each new connection; this one hands out watched plain TCP
// connections. A TLS layer will wrap its connections the same way. DCMTK calls it only for a
// "secure" association, hence useSecureConnection() below.
class WatchedTransport : public DcmTransportLayer {
public:
    explicit WatchedTransport(DicomCancel *cancel)
        : m_cancel(cancel)
    {
    }
    DcmTransportConnection *createConnection(DcmNativeSocketType socket, OFBool) override
    {
        return new WatchedConnection(socket, m_cancel);
    }

private:
    DicomCancel *m_cancel;
};

// The same for TLS: DCMTK's TLS connection over the watched socket. The socket is forgotten
// when the association ends (DicomAssociation::forgetSocket), as the TLS connection's close
// cannot be hooked.
class WatchedTlsTransport : public DcmTLSTransportLayer {
public:
    WatchedTlsTransport(DicomCancel *cancel, bool acceptor)
        : DcmTLSTransportLayer(acceptor ? NET_ACCEPTOR : NET_REQUESTOR, nullptr, OFTrue)
        , m_cancel(cancel)
    {
    }
    DcmTransportConnection *createConnection(DcmNativeSocketType socket, OFBool secure) override
    {
        if (m_cancel)
            m_cancel->attach(socket);
        return DcmTLSTransportLayer::createConnection(socket, secure);
    }

private:
    DicomCancel *m_cancel;
};

namespace {

// A TLS layer with this station's certificate and key, trusting the configured CA only, on the
// BCP 195 profile (TLS 1.2 or 1.3). Throws DicomError naming the file that cannot be used.
std::unique_ptr<DcmTransportLayer> tlsTransport(const DicomPeer &peer, DicomCancel *cancel, bool acceptor)
{
    auto tls = std::make_unique<WatchedTlsTransport>(cancel, acceptor);
    const auto failed = [&](const QString &what, const QString &file) {
        return DicomError(QStringLiteral("DICOM over TLS: the %1 %2 cannot be used.").arg(what, file));
    };
    if (tls->setTLSProfile(TSP_Profile_BCP195).bad() || tls->activateCipherSuites().bad())
        throw DicomError(QStringLiteral("DICOM over TLS: the BCP 195 profile is not available."));
    if (tls->setPrivateKeyFile(peer.privateKey.toLocal8Bit().constData(), DCF_Filetype_PEM).bad())
        throw failed(QStringLiteral("private key"), peer.privateKey);
    if (tls->setCertificateFile(peer.certificate.toLocal8Bit().constData(), DCF_Filetype_PEM).bad()
        || !tls->checkPrivateKeyMatchesCertificate())
        throw failed(QStringLiteral("certificate (or it does not match the private key)"), peer.certificate);
    if (tls->addTrustedCertificateFile(peer.caCertificates.toLocal8Bit().constData(), DCF_Filetype_PEM).bad())
        throw failed(QStringLiteral("CA certificates"), peer.caCertificates);
    tls->setCertificateVerification(DCV_requireCertificate);
    return tls;
}

// DcmSCU with its transport layer settable (DCMTK offers it to subclasses only).
class TransportScu : public DcmSCU {
public:
    using DcmSCU::useSecureConnection;

    // One N-CREATE or N-SET request with its attributes and the partner's response; DcmSCU
    // offers neither, its message primitives do.
    OFCondition normalized(bool create, T_ASC_PresentationContextID context, const char *sopClass,
                           const char *sopInstance, DcmDataset *attributes, Uint16 &status)
    {
        T_DIMSE_Message request{};
        if (create) {
            request.CommandField = DIMSE_N_CREATE_RQ;
            T_DIMSE_N_CreateRQ &create = request.msg.NCreateRQ;
            create.MessageID = ++m_messageId;
            OFStandard::strlcpy(create.AffectedSOPClassUID, sopClass, sizeof create.AffectedSOPClassUID);
            OFStandard::strlcpy(create.AffectedSOPInstanceUID, sopInstance, sizeof create.AffectedSOPInstanceUID);
            create.opts = O_NCREATE_AFFECTEDSOPINSTANCEUID;
            create.DataSetType = DIMSE_DATASET_PRESENT;
        } else {
            request.CommandField = DIMSE_N_SET_RQ;
            T_DIMSE_N_SetRQ &set = request.msg.NSetRQ;
            set.MessageID = ++m_messageId;
            OFStandard::strlcpy(set.RequestedSOPClassUID, sopClass, sizeof set.RequestedSOPClassUID);
            OFStandard::strlcpy(set.RequestedSOPInstanceUID, sopInstance, sizeof set.RequestedSOPInstanceUID);
            set.DataSetType = DIMSE_DATASET_PRESENT;
        }
        OFCondition result = sendDIMSEMessage(context, &request, attributes);
        if (result.bad())
            return result;
        T_DIMSE_Message response{};
        T_ASC_PresentationContextID answered = 0;
        DcmDataset *detail = nullptr;
        result = receiveDIMSECommand(&answered, &response, &detail);
        delete detail;
        if (result.bad())
            return result;
        const bool expected = response.CommandField == (create ? DIMSE_N_CREATE_RSP : DIMSE_N_SET_RSP);
        if (!expected)
            return DIMSE_BADCOMMANDTYPE;
        status = create ? response.msg.NCreateRSP.DimseStatus : response.msg.NSetRSP.DimseStatus;
        const T_DIMSE_DataSetType answer =
            create ? response.msg.NCreateRSP.DataSetType : response.msg.NSetRSP.DataSetType;
        if (answer != DIMSE_DATASET_NULL) {
            DcmDataset *attributesBack = nullptr;
            result = receiveDIMSEDataset(&answered, &attributesBack);
            delete attributesBack;
        }
        return result;
    }

    // Set while an N-EVENT-REPORT is awaited on this association: the status it is answered with.
    std::function<Uint16(Uint16 eventType, DcmDataset *attributes)> reportHandler;

protected:
    Uint16 checkEVENTREPORTRequest(T_DIMSE_N_EventReportRQ &request, DcmDataset *attributes) override
    {
        return reportHandler ? reportHandler(request.EventTypeID, attributes) : Uint16(STATUS_N_ProcessingFailure);
    }

private:
    Uint16 m_messageId = 0;
};

// The partner's address, found before anything connects.
struct Address {
    sockaddr_storage socket{};
    socklen_t length = 0;
    QString numeric; // what DCMTK is given: an IPv4 address, or the host name where there is none
};

// One look-up of a host name, shared by the thread that runs it and the one that waits for it:
// whoever lets go last frees it.
struct Lookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    int error = 0;
    int systemError = 0; // errno of an EAI_SYSTEM error
    addrinfo *found = nullptr;
    ~Lookup()
    {
        if (found)
            ::freeaddrinfo(found);
    }
};

// getaddrinfo waits as long as the name servers let it (30 s and more when they are away) and
// nothing can end it, so it runs on a thread of its own. The wait for it ends at `deadline` or at
// a cancel, polled every 100 ms; a look-up left behind ends on its own and frees what it found.
// Throws DicomError naming the host when the name does not resolve in time.
Address resolve(const DicomPeer &peer, const QString &what, const DicomCancel *cancel, const QDeadlineTimer &deadline)
{
    const QByteArray host = peer.host.toLocal8Bit();
    const QByteArray port = QByteArray::number(peer.port);
    auto lookup = std::make_shared<Lookup>();
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST;
    // An address needs no name server: no thread.
    if (::getaddrinfo(host.constData(), port.constData(), &hints, &lookup->found) == 0) {
        lookup->finished = true;
    } else {
        hints.ai_flags = 0;
        std::thread([lookup, host, port, hints] {
            addrinfo *found = nullptr;
            const int error = ::getaddrinfo(host.constData(), port.constData(), &hints, &found);
            const int systemError = errno;
            const std::lock_guard lock(lookup->mutex);
            lookup->error = error;
            lookup->systemError = systemError;
            lookup->found = found;
            lookup->finished = true;
            lookup->done.notify_all();
        }).detach();
    }
    std::unique_lock lock(lookup->mutex);
    while (!lookup->finished && !(cancel && cancel->cancelled()) && !deadline.hasExpired())
        lookup->done.wait_for(lock, std::chrono::milliseconds(std::min<qint64>(100, deadline.remainingTime())));
    if (cancel && cancel->cancelled())
        throw DicomError(QStringLiteral("Cannot connect to the %1: cancelled").arg(what));
    if (!lookup->finished)
        throw DicomError(QStringLiteral("Cannot connect to the %1: the name servers did not resolve the host name "
                                        "\"%2\" within %3 s")
                             .arg(what, peer.host)
                             .arg(peer.connectTimeoutSeconds));
    if (lookup->error != 0 || !lookup->found)
        throw DicomError(
            QStringLiteral("Cannot connect to the %1: the host name \"%2\" does not resolve: %3")
                .arg(what, peer.host,
                     QString::fromLocal8Bit(lookup->error == EAI_SYSTEM ? std::strerror(lookup->systemError)
                                                                        : ::gai_strerror(lookup->error))));
    // DCMTK is given the address, so that it looks nothing up again; it takes IPv4 addresses as
    // "host:port", an IPv6-only host keeps its name.
    const addrinfo *chosen = lookup->found;
    for (const addrinfo *one = lookup->found; one; one = one->ai_next) {
        if (one->ai_family == AF_INET) {
            chosen = one;
            break;
        }
    }
    Address address;
    std::memcpy(&address.socket, chosen->ai_addr, chosen->ai_addrlen);
    address.length = chosen->ai_addrlen;
    char numeric[NI_MAXHOST] = {};
    address.numeric = chosen->ai_family == AF_INET
            && ::getnameinfo(chosen->ai_addr, chosen->ai_addrlen, numeric, sizeof numeric, nullptr, 0, NI_NUMERICHOST)
                == 0
        ? QString::fromLatin1(numeric)
        : peer.host;
    return address;
}

// DCMTK's socket exists for others to see only once connected, so a cancel cannot end DCMTK's
// own TCP connect to a host that drops packets. A cancellable task therefore first connects
// itself, polling the cancel every 100 ms until `deadline`, and hands over to DCMTK once the
// partner answered (DCMTK's connect then takes a moment). Returns the reason it could not,
// empty when it did.
QString reachable(const Address &address, const DicomCancel &cancel, const QDeadlineTimer &deadline)
{
    const int socket = ::socket(address.socket.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (socket < 0)
        return {};
    int error = ::connect(socket, reinterpret_cast<const sockaddr *>(&address.socket), address.length) == 0 ? 0 : errno;
    if (error == EINPROGRESS) {
        error = ETIMEDOUT;
        while (!cancel.cancelled() && !deadline.hasExpired()) {
            pollfd wanted{socket, POLLOUT, 0};
            if (::poll(&wanted, 1, 100) > 0) {
                socklen_t size = sizeof error;
                ::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &size);
                break;
            }
        }
    }
    ::close(socket);
    if (cancel.cancelled())
        return QStringLiteral("cancelled");
    return error == 0 ? QString() : qt_error_string(error);
}

} // namespace

void DicomCancel::cancel()
{
    const std::lock_guard lock(m_mutex);
    m_cancelled = true;
    if (m_socket >= 0)
        ::shutdown(m_socket, SHUT_RDWR);
}

void DicomCancel::attach(int socket)
{
    const std::lock_guard lock(m_mutex);
    m_socket = socket;
    // Cancelled while connecting: the first read fails at once.
    if (m_cancelled)
        ::shutdown(m_socket, SHUT_RDWR);
}

void DicomCancel::detach()
{
    const std::lock_guard lock(m_mutex);
    m_socket = -1;
}

DicomAssociation::DicomAssociation(const DicomPeer &peer, const QString &role,
                                   const QList<PresentationContext> &contexts, DicomCancel *cancel)
    : m_peer(peer)
    , m_role(role)
    , m_cancel(cancel)
    , m_transport(peer.tls ? nullptr : std::make_unique<WatchedTransport>(cancel))
    , m_scu(std::make_unique<TransportScu>())
{
    setUpDcmtk();
    m_scu->setAETitle(peer.callingAe.toLatin1().constData());
    m_scu->setPeerHostName(peer.host.toLatin1().constData());
    m_scu->setPeerPort(peer.port);
    m_scu->setPeerAETitle(peer.calledAe.toLatin1().constData());
    m_scu->setConnectionTimeout(peer.connectTimeoutSeconds);
    m_scu->setACSETimeout(Uint32(peer.dimseTimeoutSeconds));
    m_scu->setDIMSEBlockingMode(DIMSE_NONBLOCKING);
    m_scu->setDIMSETimeout(Uint32(peer.dimseTimeoutSeconds));
    m_scu->setVerbosePCMode(OFFalse);
    for (const PresentationContext &context : contexts) {
        OFList<OFString> syntaxes;
        for (const char *syntax : context.transferSyntaxes)
            syntaxes.push_back(syntax);
        m_scu->addPresentationContext(context.abstractSyntax, syntaxes);
    }
}

DicomAssociation::~DicomAssociation()
{
    if (isConnected())
        release();
    forgetSocket();
}

void DicomAssociation::open()
{
    // The look-up and the connect share the connect timeout.
    const QDeadlineTimer deadline(std::chrono::seconds(m_peer.connectTimeoutSeconds));
    const QString what = m_role + u' ' + partner();
    const Address address = resolve(m_peer, what, m_cancel, deadline);
    if (m_cancel) {
        const QString unreachable = reachable(address, *m_cancel, deadline);
        if (!unreachable.isEmpty())
            throw DicomError(QStringLiteral("Cannot connect to the %1: %2").arg(what, unreachable));
    }
    m_scu->setPeerHostName(address.numeric.toLatin1().constData());
    m_scu->setConnectionTimeout(Sint32(std::max<qint64>(1, (deadline.remainingTime() + 999) / 1000)));
    if (!m_transport)
        m_transport = transport(m_peer, m_cancel);
    OFCondition status = m_scu->initNetwork();
    if (status.good())
        status = static_cast<TransportScu &>(*m_scu).useSecureConnection(m_transport.get());
    if (status.good())
        status = m_scu->negotiateAssociation();
    if (status.bad())
        throw DicomError(QStringLiteral("Cannot connect to the %1 %2: %3").arg(m_role, partner(), reason(status)));
    qCDebug(lcDicom) << "association with" << partner() << "open";
}

bool DicomAssociation::isConnected() const
{
    return m_scu->isConnected();
}

quint8 DicomAssociation::contextFor(const char *sopClass) const
{
    return m_scu->findAnyPresentationContextID(sopClass, "");
}

void DicomAssociation::release()
{
    // A cancelled task's socket is shut: a release request would wait for an answer that cannot
    // come, the abort only frees the association.
    if (m_cancel && m_cancel->cancelled())
        abort();
    else
        m_scu->releaseAssociation();
    forgetSocket();
}

void DicomAssociation::forgetSocket()
{
    if (m_peer.tls && m_cancel)
        m_cancel->detach();
}

void DicomAssociation::abort()
{
    if (m_scu->isConnected())
        m_scu->abortAssociation();
    forgetSocket();
}

quint16 DicomAssociation::sendNormalized(bool create, const char *sopClass, const QString &sopInstance,
                                         DcmDataset &attributes)
{
    const T_ASC_PresentationContextID context = contextFor(sopClass);
    if (context == 0)
        throw DicomError(QStringLiteral("The %1 %2 does not accept %3.")
                             .arg(m_role, partner(), QString::fromLatin1(dcmFindNameOfUID(sopClass, "?"))));
    Uint16 status = 0;
    const OFCondition result = static_cast<TransportScu &>(*m_scu).normalized(
        create, context, sopClass, sopInstance.toLatin1().constData(), &attributes, status);
    if (result.bad())
        throw DicomError(
            QStringLiteral("The %1 to the %2 %3 failed: %4")
                .arg(create ? QStringLiteral("N-CREATE") : QStringLiteral("N-SET"), m_role, partner(), reason(result)));
    return status;
}

bool DicomAssociation::awaitEventReport(int seconds, const std::function<quint16(quint16, DcmDataset *)> &handle)
{
    auto &scu = static_cast<TransportScu &>(*m_scu);
    scu.reportHandler = [&handle](Uint16 eventType, DcmDataset *attributes) { return handle(eventType, attributes); };
    DcmDataset *attributes = nullptr;
    Uint16 eventType = 0;
    const OFCondition result = scu.handleEVENTREPORTRequest(attributes, eventType, seconds);
    scu.reportHandler = nullptr;
    delete attributes;
    if (result.bad() && result != DIMSE_NODATAAVAILABLE)
        qCInfo(lcDicom).noquote() << "no event report from" << partner() << reason(result);
    return result.good();
}

QString DicomAssociation::partner() const
{
    return QStringLiteral("%1 at %2:%3").arg(m_peer.calledAe, m_peer.host).arg(m_peer.port);
}

QString DicomAssociation::reason(const OFCondition &condition) const
{
    if (m_cancel && m_cancel->cancelled())
        return QStringLiteral("cancelled");
    return QString::fromLatin1(condition.text());
}

std::unique_ptr<DcmTransportLayer> DicomAssociation::transport(const DicomPeer &peer, DicomCancel *cancel,
                                                               bool acceptor)
{
    if (peer.tls)
        return tlsTransport(peer, cancel, acceptor);
    return std::make_unique<WatchedTransport>(cancel);
}

void DicomAssociation::prepareProcess()
{
    if (!qEnvironmentVariableIsSet("TCP_NODELAY"))
        qputenv("TCP_NODELAY", "1");
    // DCMTK writes with write(2): the A-ABORT on a socket a cancel has shut down must fail with
    // EPIPE, not end the program.
    std::signal(SIGPIPE, SIG_IGN);
}
