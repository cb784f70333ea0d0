#include "dicom/WorklistClient.h"

#include "dicom/Logging.h"
#include "dicom/StoreClient.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/scu.h>

#include <algorithm>
#include <memory>

namespace {

QString partner(const DicomPeer &peer)
{
    return QStringLiteral("%1 at %2:%3").arg(peer.calledAe, peer.host).arg(peer.port);
}

QString stringOf(DcmItem &item, const DcmTagKey &tag)
{
    OFString value;
    item.findAndGetOFStringArray(tag, value);
    return QString::fromUtf8(value.c_str()).trimmed();
}

WorklistItem itemOf(DcmDataset &answer)
{
    // Whatever character set the server answers in, the texts are read as UTF-8 (ASCII, the
    // default repertoire, already is).
    const QString charset = stringOf(answer, DCM_SpecificCharacterSet);
    if (!charset.isEmpty() && charset != u"ISO_IR 192" && charset != u"ISO_IR 6" && answer.convertToUTF8().bad())
        qCWarning(lcDicom) << "a worklist answer could not be converted to UTF-8; its texts are read as they are";
    WorklistItem item;
    item.patientId = stringOf(answer, DCM_PatientID);
    QString name = stringOf(answer, DCM_PatientName);
    // Alphabetic form only (before "="), components joined with blanks.
    name = name.section(u'=', 0, 0);
    item.patientName = name.split(u'^', Qt::SkipEmptyParts).join(u' ').trimmed();
    item.sex = stringOf(answer, DCM_PatientSex).toUpper();
    item.birthDate = QDate::fromString(stringOf(answer, DCM_PatientBirthDate), QStringLiteral("yyyyMMdd"));
    item.accessionNumber = stringOf(answer, DCM_AccessionNumber);
    item.procedure = stringOf(answer, DCM_RequestedProcedureDescription);
    DcmItem *step = nullptr;
    if (answer.findAndGetSequenceItem(DCM_ScheduledProcedureStepSequence, step, 0).good() && step) {
        const QString time = stringOf(*step, DCM_ScheduledProcedureStepStartTime);
        if (time.size() >= 4)
            item.time = time.left(2) + u':' + time.mid(2, 2);
        if (item.procedure.isEmpty())
            item.procedure = stringOf(*step, DCM_ScheduledProcedureStepDescription);
    }
    return item;
}

} // namespace

QString WorklistItem::ageOn(const QDate &on) const
{
    if (!birthDate.isValid() || birthDate > on)
        return {};
    int years = on.year() - birthDate.year();
    if (on.month() < birthDate.month() || (on.month() == birthDate.month() && on.day() < birthDate.day()))
        --years;
    return QString::number(years);
}

namespace WorklistClient {

QList<WorklistItem> query(const DicomPeer &worklist, const QDate &day)
{
    setUpDcmtk();
    DcmSCU scu;
    scu.setAETitle(worklist.callingAe.toLatin1().constData());
    scu.setPeerHostName(worklist.host.toLatin1().constData());
    scu.setPeerPort(worklist.port);
    scu.setPeerAETitle(worklist.calledAe.toLatin1().constData());
    scu.setConnectionTimeout(worklist.connectTimeoutSeconds);
    scu.setACSETimeout(Uint32(worklist.dimseTimeoutSeconds));
    scu.setDIMSEBlockingMode(DIMSE_NONBLOCKING);
    scu.setDIMSETimeout(Uint32(worklist.dimseTimeoutSeconds));
    OFList<OFString> syntaxes;
    syntaxes.push_back(UID_LittleEndianExplicitTransferSyntax);
    syntaxes.push_back(UID_LittleEndianImplicitTransferSyntax);
    scu.addPresentationContext(UID_FINDModalityWorklistInformationModel, syntaxes);

    OFCondition status = scu.initNetwork();
    if (status.good())
        status = scu.negotiateAssociation();
    if (status.bad())
        throw DicomError(QStringLiteral("Cannot connect to the worklist %1: %2")
                             .arg(partner(worklist), QString::fromLatin1(status.text())));
    const T_ASC_PresentationContextID context =
        scu.findAnyPresentationContextID(UID_FINDModalityWorklistInformationModel, "");
    if (context == 0)
        throw DicomError(QStringLiteral("The worklist %1 does not answer worklist queries.").arg(partner(worklist)));

    DcmDataset keys;
    keys.putAndInsertString(DCM_SpecificCharacterSet, "ISO_IR 192");
    for (const DcmTagKey &tag : {DCM_PatientName, DCM_PatientID, DCM_PatientBirthDate, DCM_PatientSex,
                                 DCM_AccessionNumber, DCM_RequestedProcedureDescription, DCM_RequestedProcedureID})
        keys.insertEmptyElement(tag);
    DcmItem *step = nullptr;
    keys.findOrCreateSequenceItem(DCM_ScheduledProcedureStepSequence, step);
    step->putAndInsertString(DCM_ScheduledStationAETitle, worklist.callingAe.toLatin1().constData());
    step->putAndInsertString(DCM_ScheduledProcedureStepStartDate,
                             day.toString(QStringLiteral("yyyyMMdd")).toLatin1().constData());
    for (const DcmTagKey &tag : {DCM_ScheduledProcedureStepStartTime, DCM_Modality,
                                 DCM_ScheduledProcedureStepDescription, DCM_ScheduledProcedureStepID})
        step->insertEmptyElement(tag);

    OFList<QRResponse *> responses;
    status = scu.sendFINDRequest(context, &keys, &responses);
    struct Responses {
        OFList<QRResponse *> &list;
        ~Responses()
        {
            for (QRResponse *response : list)
                delete response;
        }
    } owned{responses};
    if (status.bad())
        throw DicomError(QStringLiteral("The worklist query to %1 failed: %2")
                             .arg(partner(worklist), QString::fromLatin1(status.text())));

    QList<WorklistItem> items;
    for (QRResponse *response : responses) {
        // FF00/FF01 pending carry one item each; 0000 ends the answer; anything else is a failure.
        if (response->m_status == 0xFF00 || response->m_status == 0xFF01) {
            if (response->m_dataset)
                items.append(itemOf(*response->m_dataset));
        } else if (response->m_status != 0x0000) {
            throw DicomError(QStringLiteral("The worklist %1 answered the query with status %2.")
                                 .arg(partner(worklist))
                                 .arg(response->m_status, 4, 16, QLatin1Char('0')));
        }
    }
    scu.releaseAssociation();
    std::stable_sort(items.begin(), items.end(),
                     [](const WorklistItem &a, const WorklistItem &b) { return a.time < b.time; });
    return items;
}

} // namespace WorklistClient
