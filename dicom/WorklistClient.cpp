#include "dicom/WorklistClient.h"

#include "dicom/Logging.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/scu.h>

#include <algorithm>

namespace {

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

QList<WorklistItem> query(const DicomPeer &worklist, const QDate &day, DicomCancel *cancel)
{
    DicomAssociation association(worklist, QStringLiteral("worklist"),
                                 {{UID_FINDModalityWorklistInformationModel,
                                   {UID_LittleEndianExplicitTransferSyntax, UID_LittleEndianImplicitTransferSyntax}}},
                                 cancel);
    association.open();
    const T_ASC_PresentationContextID context = association.contextFor(UID_FINDModalityWorklistInformationModel);
    if (context == 0)
        throw DicomError(
            QStringLiteral("The worklist %1 does not answer worklist queries.").arg(association.partner()));

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
    const OFCondition status = association.scu().sendFINDRequest(context, &keys, &responses);
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
                             .arg(association.partner(), association.reason(status)));

    QList<WorklistItem> items;
    for (QRResponse *response : responses) {
        // FF00/FF01 pending carry one item each; 0000 ends the answer; anything else is a failure.
        if (response->m_status == 0xFF00 || response->m_status == 0xFF01) {
            if (response->m_dataset)
                items.append(itemOf(*response->m_dataset));
        } else if (response->m_status != 0x0000) {
            throw DicomError(QStringLiteral("The worklist %1 answered the query with status %2.")
                                 .arg(association.partner())
                                 .arg(response->m_status, 4, 16, QLatin1Char('0')));
        }
    }
    association.release();
    std::stable_sort(items.begin(), items.end(),
                     [](const WorklistItem &a, const WorklistItem &b) { return a.time < b.time; });
    return items;
}

} // namespace WorklistClient
