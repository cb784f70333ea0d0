#include "dicom/StoreClient.h"

#include "dicom/Logging.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/diutil.h>
#include <dcmtk/dcmnet/scu.h>

namespace {

QString text(const OFCondition &condition)
{
    return QString::fromLatin1(condition.text());
}

QString partner(const DicomPeer &peer)
{
    return QStringLiteral("%1 at %2:%3").arg(peer.calledAe, peer.host).arg(peer.port);
}

} // namespace

StoreClient::StoreClient(const DicomPeer &pacs)
    : m_pacs(pacs)
    , m_scu(std::make_unique<DcmSCU>())
{
    setUpDcmtk();
    m_scu->setAETitle(pacs.callingAe.toLatin1().constData());
    m_scu->setPeerHostName(pacs.host.toLatin1().constData());
    m_scu->setPeerPort(pacs.port);
    m_scu->setPeerAETitle(pacs.calledAe.toLatin1().constData());
    m_scu->setConnectionTimeout(pacs.connectTimeoutSeconds);
    m_scu->setACSETimeout(Uint32(pacs.dimseTimeoutSeconds));
    m_scu->setDIMSEBlockingMode(DIMSE_NONBLOCKING);
    m_scu->setDIMSETimeout(Uint32(pacs.dimseTimeoutSeconds));
    m_scu->setVerbosePCMode(OFFalse);

    OFList<OFString> jpeg;
    jpeg.push_back(UID_JPEGProcess1TransferSyntax);
    m_scu->addPresentationContext(UID_SecondaryCaptureImageStorage, jpeg);
    OFList<OFString> uncompressed;
    uncompressed.push_back(UID_LittleEndianExplicitTransferSyntax);
    uncompressed.push_back(UID_LittleEndianImplicitTransferSyntax);
    m_scu->addPresentationContext(UID_EncapsulatedPDFStorage, uncompressed);

    OFCondition status = m_scu->initNetwork();
    if (status.good())
        status = m_scu->negotiateAssociation();
    if (status.bad())
        throw DicomError(QStringLiteral("Cannot connect to the PACS %1: %2").arg(partner(pacs), text(status)));
    qCDebug(lcDicom) << "association with" << partner(pacs) << "open";
}

StoreClient::~StoreClient()
{
    if (m_scu->isConnected())
        m_scu->releaseAssociation();
}

bool StoreClient::isConnected() const
{
    return m_scu->isConnected();
}

void StoreClient::store(DcmDataset &dataset)
{
    OFString sopClass;
    OFString sopInstance;
    dataset.findAndGetOFString(DCM_SOPClassUID, sopClass);
    dataset.findAndGetOFString(DCM_SOPInstanceUID, sopInstance);
    const QString instance = QString::fromLatin1(sopInstance.c_str());

    const T_ASC_PresentationContextID context = m_scu->findAnyPresentationContextID(sopClass, "");
    if (context == 0)
        throw DicomError(QStringLiteral("The PACS %1 does not accept %2 instances.")
                             .arg(partner(m_pacs), QString::fromLatin1(dcmFindNameOfUID(sopClass.c_str(), "?"))));
    Uint16 response = 0;
    const OFCondition status = m_scu->sendSTORERequest(context, OFFilename(), &dataset, response);
    if (status.bad())
        throw DicomError(QStringLiteral("Sending instance %1 to the PACS %2 failed: %3")
                             .arg(instance, partner(m_pacs), text(status)));
    // 0000 success; B000, B006, B007 warnings (stored with coercion or elements dropped);
    // 0111 the PACS holds this instance already, which is what sending wanted.
    if (response == 0x0000 || response == 0xB000 || response == 0xB006 || response == 0xB007 || response == 0x0111) {
        if (response != 0)
            qCInfo(lcDicom) << "PACS stored" << instance << "with status" << Qt::hex << response;
        return;
    }
    throw DicomError(QStringLiteral("The PACS %1 refused instance %2: status %3 (%4)")
                         .arg(partner(m_pacs), instance)
                         .arg(response, 4, 16, QLatin1Char('0'))
                         .arg(QString::fromLatin1(DU_cstoreStatusString(response))));
}
