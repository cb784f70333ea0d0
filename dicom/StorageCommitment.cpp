#include "dicom/StorageCommitment.h"

#include "core/AppError.h"
#include "dicom/Logging.h"
#include "dicom/StudyInstance.h"

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/dimse.h>
#include <dcmtk/dcmnet/scu.h>

namespace {

QString text(DcmItem &item, const DcmTagKey &tag)
{
    OFString value;
    item.findAndGetOFString(tag, value);
    return QString::fromLatin1(value.c_str()).trimmed();
}

} // namespace

namespace StorageCommitment {

const char *const kSopClass = UID_StorageCommitmentPushModelSOPClass;
const char *const kSopInstance = UID_StorageCommitmentPushModelSOPInstance;

std::unique_ptr<DcmDataset> request(const QString &transactionUid, const QList<CommitItem> &items)
{
    auto ds = std::make_unique<DcmDataset>();
    StudyInstance::putText(*ds, DCM_TransactionUID, transactionUid);
    for (const CommitItem &item : items) {
        DcmItem *reference = nullptr;
        if (ds->findOrCreateSequenceItem(DCM_ReferencedSOPSequence, reference, -2).bad() || !reference)
            throw AppError(QStringLiteral("Cannot set DICOM attribute ReferencedSOPSequence."));
        StudyInstance::putText(*reference, DCM_ReferencedSOPClassUID, item.sopClass);
        StudyInstance::putText(*reference, DCM_ReferencedSOPInstanceUID, item.sopUid);
    }
    return ds;
}

std::optional<CommitReport> reportOf(DcmDataset &attributes)
{
    CommitReport report{.transactionUid = text(attributes, DCM_TransactionUID), .committed = {}, .failed = {}};
    if (report.transactionUid.isEmpty())
        return std::nullopt;
    DcmItem *item = nullptr;
    for (long i = 0; attributes.findAndGetSequenceItem(DCM_ReferencedSOPSequence, item, i).good() && item; ++i)
        report.committed.append(text(*item, DCM_ReferencedSOPInstanceUID));
    for (long i = 0; attributes.findAndGetSequenceItem(DCM_FailedSOPSequence, item, i).good() && item; ++i) {
        Uint16 reason = 0;
        item->findAndGetUint16(DCM_FailureReason, reason);
        report.failed.append({text(*item, DCM_ReferencedSOPInstanceUID), reason});
    }
    return report;
}

void ask(const DicomPeer &pacs, const QString &transactionUid, const QList<CommitItem> &items,
         const std::function<bool(const CommitReport &)> &onReport, DicomCancel *cancel)
{
    DicomAssociation association(
        pacs, QStringLiteral("PACS"),
        {{kSopClass, {UID_LittleEndianExplicitTransferSyntax, UID_LittleEndianImplicitTransferSyntax}}}, cancel);
    association.open();
    const T_ASC_PresentationContextID context = association.contextFor(kSopClass);
    if (context == 0)
        throw DicomError(QStringLiteral("The PACS %1 does not accept Storage Commitment.").arg(association.partner()));
    std::unique_ptr<DcmDataset> attributes = request(transactionUid, items);
    Uint16 status = 0;
    const OFCondition sent = association.scu().sendACTIONRequest(context, kSopInstance, 1, attributes.get(), status);
    if (sent.bad())
        throw DicomError(QStringLiteral("The storage commitment request to the PACS %1 failed: %2")
                             .arg(association.partner(), association.reason(sent)));
    if (status != STATUS_Success)
        throw DicomError(QStringLiteral("The PACS %1 refused the storage commitment request: status %2")
                             .arg(association.partner())
                             .arg(status, 4, 16, QLatin1Char('0')));
    association.awaitEventReport(kSameAssociationWaitSeconds, [&](quint16, DcmDataset *answer) -> quint16 {
        const std::optional<CommitReport> report = answer ? reportOf(*answer) : std::nullopt;
        if (!report)
            return STATUS_N_InvalidArgumentValue;
        return onReport(*report) ? STATUS_Success : STATUS_N_ProcessingFailure;
    });
    association.release();
}

} // namespace StorageCommitment
