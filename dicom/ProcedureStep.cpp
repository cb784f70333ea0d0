#include "dicom/ProcedureStep.h"

#include "core/AppError.h"

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcistrmb.h>
#include <dcmtk/dcmdata/dcostrmb.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmdata/dcwcache.h>

namespace {

using StudyInstance::putText;

DcmItem &newItem(DcmItem &parent, const DcmTagKey &sequence)
{
    DcmItem *item = nullptr;
    if (parent.findOrCreateSequenceItem(sequence, item, -2).bad() || !item)
        throw AppError(
            QStringLiteral("Cannot set DICOM attribute %1.").arg(QString::fromLatin1(DcmTag(sequence).getTagName())));
    return *item;
}

QString date(const QDateTime &time)
{
    return time.toString(QStringLiteral("yyyyMMdd"));
}

QString time(const QDateTime &time)
{
    return time.toString(QStringLiteral("HHmmss"));
}

} // namespace

namespace ProcedureStep {

const char *const kSopClass = UID_ModalityPerformedProcedureStepSOPClass;

std::unique_ptr<DcmDataset> inProgress(const StudyValues &study, const QString &stepId, const QString &stationAe,
                                       const QDateTime &start)
{
    auto ds = std::make_unique<DcmDataset>();
    const WorklistOrder &order = study.order;
    putText(*ds, DCM_SpecificCharacterSet, QStringLiteral("ISO_IR 192"));
    // Scheduled Step Attributes: the worklist's step, or an unscheduled one: its study only, every
    // other attribute present and empty.
    DcmItem &scheduled = newItem(*ds, DCM_ScheduledStepAttributesSequence);
    putText(scheduled, DCM_StudyInstanceUID, study.studyUid);
    scheduled.insertEmptyElement(DCM_ReferencedStudySequence);
    putText(scheduled, DCM_AccessionNumber, order.accessionNumber);
    putText(scheduled, DCM_RequestedProcedureID, order.requestedProcedureId);
    putText(scheduled, DCM_RequestedProcedureDescription, order.requestedProcedureDescription);
    putText(scheduled, DCM_ScheduledProcedureStepID, order.scheduledStepId);
    putText(scheduled, DCM_ScheduledProcedureStepDescription, order.scheduledStepDescription);
    if (order.protocolCodes.isEmpty())
        scheduled.insertEmptyElement(DCM_ScheduledProtocolCodeSequence);
    else
        StudyInstance::putCodeSequence(scheduled, DCM_ScheduledProtocolCodeSequence, order.protocolCodes);
    // Patient
    putText(*ds, DCM_PatientName, StudyInstance::patientNameOf(study));
    putText(*ds, DCM_PatientID, study.patientId);
    putText(*ds, DCM_PatientBirthDate, order.birthDate);
    QString sex = StudyInstance::dicomSex(study.sex);
    if (sex.isEmpty())
        sex = order.sex;
    putText(*ds, DCM_PatientSex, sex);
    ds->insertEmptyElement(DCM_ReferencedPatientSequence);
    // Performed Procedure Step Information
    putText(*ds, DCM_PerformedProcedureStepID, stepId);
    putText(*ds, DCM_PerformedStationAETitle, stationAe);
    putText(*ds, DCM_PerformedStationName, QString());
    putText(*ds, DCM_PerformedLocation, QString());
    putText(*ds, DCM_PerformedProcedureStepStartDate, date(start));
    putText(*ds, DCM_PerformedProcedureStepStartTime, time(start));
    putText(*ds, DCM_PerformedProcedureStepStatus, QStringLiteral("IN PROGRESS"));
    putText(*ds, DCM_PerformedProcedureStepDescription, order.requestedProcedureDescription);
    putText(*ds, DCM_PerformedProcedureTypeDescription, QString());
    if (order.requestedProcedureCodes.isEmpty())
        ds->insertEmptyElement(DCM_ProcedureCodeSequence);
    else
        StudyInstance::putCodeSequence(*ds, DCM_ProcedureCodeSequence, order.requestedProcedureCodes);
    putText(*ds, DCM_PerformedProcedureStepEndDate, QString());
    putText(*ds, DCM_PerformedProcedureStepEndTime, QString());
    // Image Acquisition Results
    putText(*ds, DCM_Modality, QStringLiteral("ES"));
    putText(*ds, DCM_StudyID, order.requestedProcedureId.isEmpty() ? study.studyId : order.requestedProcedureId);
    ds->insertEmptyElement(DCM_PerformedProtocolCodeSequence);
    ds->insertEmptyElement(DCM_PerformedSeriesSequence);
    return ds;
}

std::unique_ptr<DcmDataset> completed(const StudyValues &study, const QDateTime &end,
                                      const QList<PerformedSeries> &series)
{
    auto ds = std::make_unique<DcmDataset>();
    putText(*ds, DCM_SpecificCharacterSet, QStringLiteral("ISO_IR 192"));
    putText(*ds, DCM_PerformedProcedureStepStatus, QStringLiteral("COMPLETED"));
    putText(*ds, DCM_PerformedProcedureStepEndDate, date(end));
    putText(*ds, DCM_PerformedProcedureStepEndTime, time(end));
    for (const PerformedSeries &one : series) {
        DcmItem &item = newItem(*ds, DCM_PerformedSeriesSequence);
        putText(item, DCM_PerformingPhysicianName,
                study.performingPhysician.trimmed().isEmpty()
                    ? QString()
                    : StudyInstance::personName(study.performingPhysician.trimmed()));
        putText(item, DCM_ProtocolName, one.description);
        putText(item, DCM_OperatorsName, QString());
        putText(item, DCM_SeriesInstanceUID, one.seriesUid);
        putText(item, DCM_SeriesDescription, one.description);
        putText(item, DCM_RetrieveAETitle, QString());
        item.insertEmptyElement(DCM_ReferencedImageSequence);
        const DcmTagKey references =
            one.images ? DCM_ReferencedImageSequence : DCM_ReferencedNonImageCompositeSOPInstanceSequence;
        for (const QString &sopUid : one.sopUids) {
            DcmItem &reference = newItem(item, references);
            putText(reference, DCM_ReferencedSOPClassUID, one.sopClass);
            putText(reference, DCM_ReferencedSOPInstanceUID, sopUid);
        }
    }
    return ds;
}

void send(const DicomPeer &ris, bool create, const QString &stepUid, DcmDataset &attributes, DicomCancel *cancel)
{
    DicomAssociation association(
        ris, QStringLiteral("RIS"),
        {{kSopClass, {UID_LittleEndianExplicitTransferSyntax, UID_LittleEndianImplicitTransferSyntax}}}, cancel);
    association.open();
    const quint16 status = association.sendNormalized(create, kSopClass, stepUid, attributes);
    association.release();
    // 0107 and 0116: attributes the RIS did not take or kept in range; the step stands.
    if (status == 0x0000 || status == 0x0107 || status == 0x0116)
        return;
    throw DicomError(
        QStringLiteral("The RIS %1 refused the %2 of procedure step %3: status %4")
            .arg(association.partner(), create ? QStringLiteral("N-CREATE") : QStringLiteral("N-SET"), stepUid)
            .arg(status, 4, 16, QLatin1Char('0')));
}

std::unique_ptr<DcmDataset> discontinued(const QDateTime &end, Abandoned why)
{
    auto ds = std::make_unique<DcmDataset>();
    putText(*ds, DCM_SpecificCharacterSet, QStringLiteral("ISO_IR 192"));
    putText(*ds, DCM_PerformedProcedureStepStatus, QStringLiteral("DISCONTINUED"));
    putText(*ds, DCM_PerformedProcedureStepEndDate, date(end));
    putText(*ds, DCM_PerformedProcedureStepEndTime, time(end));
    const bool wrongEntry = why == Abandoned::OtherWorklistPatient;
    StudyInstance::putCodeSequence(*ds, DCM_PerformedProcedureStepDiscontinuationReasonCodeSequence,
                                   {{.value = wrongEntry ? QStringLiteral("110514") : QStringLiteral("110513"),
                                     .scheme = QStringLiteral("DCM"),
                                     .meaning = wrongEntry ? QStringLiteral("Incorrect worklist entry selected")
                                                           : QStringLiteral("Discontinued for unspecified reason")}});
    ds->insertEmptyElement(DCM_PerformedSeriesSequence);
    return ds;
}

QByteArray bytesOf(DcmDataset &dataset)
{
    dataset.transferInit();
    const Uint32 length = dataset.calcElementLength(EXS_LittleEndianExplicit, EET_ExplicitLength);
    QByteArray bytes(qsizetype(length) + 1024, '\0');
    DcmOutputBufferStream out(bytes.data(), offile_off_t(bytes.size()));
    const OFCondition status = dataset.write(out, EXS_LittleEndianExplicit, EET_ExplicitLength, nullptr);
    dataset.transferEnd();
    if (status.bad())
        throw AppError(QStringLiteral("Cannot encode the procedure step: %1").arg(QString::fromLatin1(status.text())));
    void *buffer = nullptr;
    offile_off_t written = 0;
    out.flushBuffer(buffer, written);
    bytes.truncate(qsizetype(written));
    return bytes;
}

std::unique_ptr<DcmDataset> datasetOf(const QByteArray &bytes)
{
    auto ds = std::make_unique<DcmDataset>();
    DcmInputBufferStream in;
    in.setBuffer(bytes.constData(), offile_off_t(bytes.size()));
    in.setEos();
    ds->transferInit();
    const OFCondition status = ds->read(in, EXS_LittleEndianExplicit, EGL_noChange);
    ds->transferEnd();
    if (status.bad())
        return nullptr;
    return ds;
}

} // namespace ProcedureStep
