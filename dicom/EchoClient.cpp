#include "dicom/EchoClient.h"

#include "dicom/DicomAssociation.h"

#include <QElapsedTimer>

#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/scu.h>

namespace EchoClient {

qint64 echo(const DicomPeer &peer, const QString &role)
{
    QElapsedTimer elapsed;
    elapsed.start();
    DicomAssociation association(peer, role, {{UID_VerificationSOPClass, {UID_LittleEndianImplicitTransferSyntax}}});
    association.open();
    const T_ASC_PresentationContextID context = association.contextFor(UID_VerificationSOPClass);
    if (context == 0)
        throw DicomError(
            QStringLiteral("The %1 %2 does not accept Verification (C-ECHO).").arg(role, association.partner()));
    const OFCondition status = association.scu().sendECHORequest(context);
    if (status.bad())
        throw DicomError(
            QStringLiteral("The C-ECHO to %1 failed: %2").arg(association.partner(), association.reason(status)));
    const qint64 ms = elapsed.elapsed();
    association.release();
    return ms;
}

} // namespace EchoClient
