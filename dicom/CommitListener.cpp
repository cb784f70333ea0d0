#include "dicom/CommitListener.h"

#include "dicom/Logging.h"

#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/dcmlayer.h>
#include <dcmtk/dcmnet/scp.h>

// The SCP's reactions: who may call, and what an N-EVENT-REPORT does.
class CommitScp : public DcmSCP {
public:
    CommitScp(const DicomPeer &own, const std::function<bool(const CommitReport &)> &onReport, DicomCancel &cancel)
        : m_own(own)
        , m_onReport(onReport)
        , m_cancel(cancel)
    {
    }

protected:
    OFBool checkCalledAETitleAccepted(const OFString &calledAe) override
    {
        return QString::fromLatin1(calledAe.c_str()).trimmed() == m_own.calledAe;
    }

    OFBool checkCallingAETitleAccepted(const OFString &callingAe) override
    {
        const QString caller = QString::fromLatin1(callingAe.c_str()).trimmed();
        if (caller == m_own.callingAe)
            return OFTrue;
        qCWarning(lcDicom).noquote() << "the listener refused an association from" << caller;
        return OFFalse;
    }

    OFCondition handleIncomingCommand(T_DIMSE_Message *message, const DcmPresentationContextInfo &context) override
    {
        if (message->CommandField != DIMSE_N_EVENT_REPORT_RQ)
            return DcmSCP::handleIncomingCommand(message, context);
        DcmDataset *attributes = nullptr;
        Uint16 eventType = 0;
        const OFCondition result =
            handleEVENTREPORTRequest(message->msg.NEventReportRQ, context.presentationContextID, attributes, eventType);
        delete attributes;
        return result;
    }

    Uint16 checkEVENTREPORTRequest(T_DIMSE_N_EventReportRQ &request, DcmDataset *attributes) override
    {
        if (QString::fromLatin1(request.AffectedSOPClassUID) != QLatin1String(StorageCommitment::kSopClass))
            return STATUS_N_NoSuchSOPClass;
        const std::optional<CommitReport> report = attributes ? StorageCommitment::reportOf(*attributes) : std::nullopt;
        if (!report)
            return STATUS_N_InvalidArgumentValue;
        return m_onReport(*report) ? STATUS_Success : STATUS_N_ProcessingFailure;
    }

    // A TLS connection's close cannot be hooked: its socket is forgotten here.
    void notifyAssociationTermination() override { m_cancel.detach(); }

    OFBool stopAfterConnectionTimeout() override { return m_cancel.cancelled(); }
    OFBool stopAfterCurrentAssociation() override { return m_cancel.cancelled(); }

private:
    const DicomPeer m_own;
    const std::function<bool(const CommitReport &)> &m_onReport;
    DicomCancel &m_cancel;
};

CommitListener::CommitListener(const DicomPeer &own, std::function<bool(const CommitReport &)> onReport)
    : m_own(own)
    , m_onReport(std::move(onReport))
{
}

CommitListener::~CommitListener()
{
    stop();
}

void CommitListener::start()
{
    if (m_thread.joinable())
        return;
    setUpDcmtk();
    m_cancel.reset();
    m_transport = DicomAssociation::transport(m_own, &m_cancel, true);
    m_scp = std::make_unique<CommitScp>(m_own, m_onReport, m_cancel);
    DcmSCPConfig &config = m_scp->getConfig();
    config.setPort(m_own.port);
    config.setAETitle(m_own.calledAe.toLatin1().constData());
    config.setRespondWithCalledAETitle(OFFalse);
    // A second's look for the stop between connections; each association step has the
    // partner's own bound.
    config.setConnectionBlockingMode(DUL_NOBLOCK);
    config.setConnectionTimeout(1);
    config.setDIMSEBlockingMode(DIMSE_NONBLOCKING);
    config.setDIMSETimeout(Uint32(m_own.dimseTimeoutSeconds));
    config.setACSETimeout(Uint32(m_own.dimseTimeoutSeconds));
    config.setHostLookupEnabled(OFFalse);
    config.setVerbosePCMode(OFFalse);
    config.setTransportLayer(m_transport.get());
    const OFList<OFString> syntaxes{UID_LittleEndianExplicitTransferSyntax, UID_LittleEndianImplicitTransferSyntax};
    config.addPresentationContext(UID_VerificationSOPClass, syntaxes);
    config.addPresentationContext(StorageCommitment::kSopClass, syntaxes, ASC_SC_ROLE_DEFAULT);
    const OFCondition opened = m_scp->openListenPort();
    if (opened.bad()) {
        m_scp.reset();
        throw DicomError(QStringLiteral("The DICOM listener cannot listen on port %1: %2")
                             .arg(m_own.port)
                             .arg(QString::fromLatin1(opened.text())));
    }
    m_thread = std::thread([this] {
        const OFCondition ended = m_scp->acceptAssociations();
        if (ended.bad() && !m_cancel.cancelled())
            qCWarning(lcDicom).noquote() << "the DICOM listener stopped:" << ended.text();
    });
    qCInfo(lcDicom) << "listening for the PACS on port" << m_own.port;
}

void CommitListener::stop()
{
    if (!m_thread.joinable())
        return;
    m_cancel.cancel();
    m_thread.join();
    m_scp.reset();
}
