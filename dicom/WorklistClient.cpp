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

QList<DicomCode> codesOf(DcmItem &item, const DcmTagKey &sequence)
{
    QList<DicomCode> codes;
    DcmItem *code = nullptr;
    for (int i = 0; item.findAndGetSequenceItem(sequence, code, i).good() && code; ++i) {
        const DicomCode read{.value = stringOf(*code, DCM_CodeValue),
                             .scheme = stringOf(*code, DCM_CodingSchemeDesignator),
                             .meaning = stringOf(*code, DCM_CodeMeaning)};
        if (!read.value.isEmpty())
            codes.append(read);
    }
    return codes;
}

// The answer's texts as UTF-8: in the character set it declares, else in the one assumed for
// this server. Bytes that cannot be read are an error, never replacement characters stored for
// good in the records and the PACS.
void toUtf8(DcmDataset &answer, const DicomPeer &worklist)
{
    QString charset = stringOf(answer, DCM_SpecificCharacterSet);
    if (charset.isEmpty()) {
        charset = worklist.assumedCharset.trimmed();
        if (charset.isEmpty() || charset == u"ISO_IR 6")
            return;
        answer.putAndInsertString(DCM_SpecificCharacterSet, charset.toLatin1().constData());
    }
    if (charset == u"ISO_IR 192" || charset == u"ISO_IR 6")
        return;
    const OFCondition status = answer.convertToUTF8();
    if (status.bad())
        throw DicomError(QStringLiteral("The worklist's answer in character set %1 cannot be read: %2")
                             .arg(charset, QString::fromLatin1(status.text())));
}

WorklistItem itemOf(DcmDataset &answer, const DicomPeer &worklist)
{
    toUtf8(answer, worklist);
    WorklistItem item;
    WorklistOrder &order = item.order;
    item.patientId = stringOf(answer, DCM_PatientID);
    order.patientName = stringOf(answer, DCM_PatientName);
    // Shown and typed as one field: the alphabetic form only (before "="), components joined
    // with blanks.
    item.patientName = order.patientName.section(u'=', 0, 0).split(u'^', Qt::SkipEmptyParts).join(u' ').trimmed();
    order.sex = item.sex = stringOf(answer, DCM_PatientSex).toUpper();
    order.birthDate = stringOf(answer, DCM_PatientBirthDate);
    item.birthDate = QDate::fromString(order.birthDate, QStringLiteral("yyyyMMdd"));
    order.issuerOfPatientId = stringOf(answer, DCM_IssuerOfPatientID);
    order.referringPhysician = stringOf(answer, DCM_ReferringPhysicianName);
    order.studyUid = stringOf(answer, DCM_StudyInstanceUID);
    order.accessionNumber = stringOf(answer, DCM_AccessionNumber);
    DcmItem *issuer = nullptr;
    if (answer.findAndGetSequenceItem(DCM_IssuerOfAccessionNumberSequence, issuer, 0).good() && issuer)
        order.accessionIssuer = stringOf(*issuer, DCM_LocalNamespaceEntityID);
    order.requestedProcedureId = stringOf(answer, DCM_RequestedProcedureID);
    order.requestedProcedureDescription = stringOf(answer, DCM_RequestedProcedureDescription);
    order.requestedProcedureCodes = codesOf(answer, DCM_RequestedProcedureCodeSequence);
    item.procedure = order.requestedProcedureDescription;
    DcmItem *step = nullptr;
    if (answer.findAndGetSequenceItem(DCM_ScheduledProcedureStepSequence, step, 0).good() && step) {
        const QString time = stringOf(*step, DCM_ScheduledProcedureStepStartTime);
        if (time.size() >= 4)
            item.time = time.left(2) + u':' + time.mid(2, 2);
        order.scheduledStepId = stringOf(*step, DCM_ScheduledProcedureStepID);
        order.scheduledStepDescription = stringOf(*step, DCM_ScheduledProcedureStepDescription);
        order.protocolCodes = codesOf(*step, DCM_ScheduledProtocolCodeSequence);
        if (item.procedure.isEmpty())
            item.procedure = order.scheduledStepDescription;
    }
    // An item without its study cannot be matched to the order; the examination then makes a
    // study of its own, as without a worklist, and keeps only the accession number.
    if (order.studyUid.isEmpty())
        qCWarning(lcDicom) << "a worklist item of patient" << item.patientId << "names no Study Instance UID";
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
    for (const DcmTagKey &tag :
         {DCM_PatientName, DCM_PatientID, DCM_IssuerOfPatientID, DCM_PatientBirthDate, DCM_PatientSex,
          DCM_ReferringPhysicianName, DCM_StudyInstanceUID, DCM_AccessionNumber, DCM_RequestedProcedureDescription,
          DCM_RequestedProcedureID, DCM_RequestedProcedureCodeSequence, DCM_IssuerOfAccessionNumberSequence})
        keys.insertEmptyElement(tag);
    DcmItem *step = nullptr;
    keys.findOrCreateSequenceItem(DCM_ScheduledProcedureStepSequence, step);
    step->putAndInsertString(DCM_ScheduledStationAETitle, worklist.callingAe.toLatin1().constData());
    step->putAndInsertString(DCM_ScheduledProcedureStepStartDate,
                             day.toString(QStringLiteral("yyyyMMdd")).toLatin1().constData());
    for (const DcmTagKey &tag :
         {DCM_ScheduledProcedureStepStartTime, DCM_Modality, DCM_ScheduledProcedureStepDescription,
          DCM_ScheduledProcedureStepID, DCM_ScheduledProtocolCodeSequence})
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
                items.append(itemOf(*response->m_dataset, worklist));
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
