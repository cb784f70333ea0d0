#include "dicom/StoreClient.h"

#include "dicom/Logging.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/diutil.h>
#include <dcmtk/dcmnet/scu.h>

StoreClient::StoreClient(const DicomPeer &pacs, DicomCancel *cancel)
    : m_association(
        pacs, QStringLiteral("PACS"),
        {{UID_SecondaryCaptureImageStorage, {UID_JPEGProcess1TransferSyntax}},
         {UID_EncapsulatedPDFStorage, {UID_LittleEndianExplicitTransferSyntax, UID_LittleEndianImplicitTransferSyntax}},
         {UID_VideoEndoscopicImageStorage, {UID_MPEG4HighProfileLevel4_1TransferSyntax}},
         {UID_ComprehensiveSRStorage,
          {UID_LittleEndianExplicitTransferSyntax, UID_LittleEndianImplicitTransferSyntax}}},
        cancel)
{
    m_association.open();
}

void StoreClient::store(DcmDataset &dataset)
{
    OFString sopClass;
    OFString sopInstance;
    dataset.findAndGetOFString(DCM_SOPClassUID, sopClass);
    dataset.findAndGetOFString(DCM_SOPInstanceUID, sopInstance);
    const QString instance = QString::fromLatin1(sopInstance.c_str());

    const T_ASC_PresentationContextID context = m_association.contextFor(sopClass.c_str());
    if (context == 0)
        throw DicomError(
            QStringLiteral("The PACS %1 does not accept %2 instances.")
                .arg(m_association.partner(), QString::fromLatin1(dcmFindNameOfUID(sopClass.c_str(), "?"))));
    Uint16 response = 0;
    const OFCondition status = m_association.scu().sendSTORERequest(context, OFFilename(), &dataset, response);
    if (status.bad())
        throw DicomError(QStringLiteral("Sending instance %1 to the PACS %2 failed: %3")
                             .arg(instance, m_association.partner(), m_association.reason(status)));
    // 0000 success; B000, B006, B007 warnings (stored with coercion or elements dropped);
    // 0111 the PACS holds this instance already, which is what sending wanted.
    if (response == 0x0000 || response == 0xB000 || response == 0xB006 || response == 0xB007 || response == 0x0111) {
        if (response != 0)
            qCInfo(lcDicom) << "PACS stored" << instance << "with status" << Qt::hex << response;
        return;
    }
    throw DicomError(QStringLiteral("The PACS %1 refused instance %2: status %3 (%4)")
                         .arg(m_association.partner(), instance)
                         .arg(response, 4, 16, QLatin1Char('0'))
                         .arg(QString::fromLatin1(DU_cstoreStatusString(response))));
}
