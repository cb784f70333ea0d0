#include "dicom/StudyInstance.h"

#include "core/AppError.h"
#include "dicom/Logging.h"

#include <QRegularExpression>
#include <QStringList>

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>
#include <dcmtk/dcmdata/dcuid.h>

#include <cmath>

namespace {

// Baseline JPEG, as the slot pictures are written.
struct JpegFrame {
    int width = 0;
    int height = 0;
    int components = 0;
    bool subsampled = false; // chroma at half resolution (4:2:2 or 4:2:0)
};

// Reads the frame header (SOF0) of a JPEG stream; nothing else of the stream is interpreted.
JpegFrame jpegFrame(const QByteArray &jpeg)
{
    const auto byte = [&](qsizetype i) { return i < jpeg.size() ? uchar(jpeg.at(i)) : 0; };
    if (byte(0) != 0xFF || byte(1) != 0xD8)
        throw AppError(QStringLiteral("The picture is not a JPEG file."));
    qsizetype i = 2;
    while (i + 4 <= jpeg.size()) {
        if (byte(i) != 0xFF)
            break;
        const uchar marker = byte(i + 1);
        const int length = (byte(i + 2) << 8) | byte(i + 3);
        if (marker == 0xC0) {
            JpegFrame frame;
            if (byte(i + 4) != 8)
                break;
            frame.height = (byte(i + 5) << 8) | byte(i + 6);
            frame.width = (byte(i + 7) << 8) | byte(i + 8);
            frame.components = byte(i + 9);
            frame.subsampled = frame.components == 3 && (byte(i + 11) >> 4) > 1;
            if (frame.width == 0 || frame.height == 0 || (frame.components != 1 && frame.components != 3))
                break;
            return frame;
        }
        if ((marker >= 0xC1 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) || marker == 0xDA)
            break; // another coding process, or the scan began without a baseline frame header
        i += 2 + length;
    }
    throw AppError(QStringLiteral("The picture is not a baseline JPEG picture of 8 bits."));
}

// The longest value of a tag, in bytes of UTF-8 (a limit in characters is never smaller); 0 for
// no limit.
int maxBytes(const DcmTagKey &tag)
{
    switch (DcmTag(tag).getEVR()) {
    case EVR_SH:
    case EVR_CS:
    case EVR_AE:
        return 16;
    case EVR_LO:
        return 64;
    case EVR_UI:
        return 64;
    case EVR_ST:
        return 1024;
    default:
        return 0;
    }
}

// `text` cut at a character boundary to `bytes` bytes of UTF-8; the cut is logged.
QString fitted(const QString &text, int bytes, const DcmTagKey &tag)
{
    if (bytes <= 0 || text.toUtf8().size() <= bytes)
        return text;
    QString cut = text;
    while (!cut.isEmpty() && cut.toUtf8().size() > bytes)
        cut.chop(cut.size() >= 2 && cut.at(cut.size() - 1).isLowSurrogate() ? 2 : 1);
    qCWarning(lcDicom).noquote() << QStringLiteral("%1 cut to %2 bytes: \"%3\" became \"%4\"")
                                        .arg(QString::fromLatin1(DcmTag(tag).getTagName()))
                                        .arg(bytes)
                                        .arg(text, cut);
    return cut;
}

void put(DcmItem &item, const DcmTagKey &tag, const QString &value)
{
    const QByteArray utf8 = fitted(value, maxBytes(tag), tag).toUtf8();
    const OFCondition status = item.putAndInsertString(tag, utf8.constData());
    if (status.bad())
        throw AppError(QStringLiteral("Cannot set DICOM attribute %1: %2")
                           .arg(QString::fromLatin1(DcmTag(tag).getTagName()), QString::fromLatin1(status.text())));
}

// A name typed in the sheet's one field, as a family name: "^" and "\" would split it into
// components or values.
QString typedName(const QString &text)
{
    QString name = text.trimmed();
    name.replace(u'^', u' ').replace(u'\\', u' ').replace(u'=', u' ');
    return StudyInstance::personName(name);
}

// Short strings, long strings and codes may not hold a backslash (it separates values).
QString singleValue(const QString &text)
{
    QString value = text.trimmed();
    value.replace(u'\\', u'/');
    return value;
}

void putCodes(DcmItem &item, const DcmTagKey &sequence, const QList<DicomCode> &codes)
{
    for (int i = 0; i < codes.size(); ++i) {
        DcmItem *code = nullptr;
        if (item.findOrCreateSequenceItem(sequence, code, i).bad() || !code)
            throw AppError(QStringLiteral("Cannot set DICOM attribute %1.")
                               .arg(QString::fromLatin1(DcmTag(sequence).getTagName())));
        put(*code, DCM_CodeValue, singleValue(codes.at(i).value));
        put(*code, DCM_CodingSchemeDesignator, singleValue(codes.at(i).scheme));
        put(*code, DCM_CodeMeaning, singleValue(codes.at(i).meaning));
    }
}

// The order as the instance's Request Attributes Sequence (General Series): what the PACS and
// the RIS match the instance to the order by.
void putRequest(DcmDataset &ds, const WorklistOrder &order)
{
    DcmItem *request = nullptr;
    if (ds.findOrCreateSequenceItem(DCM_RequestAttributesSequence, request, 0).bad() || !request)
        throw AppError(QStringLiteral("Cannot set DICOM attribute RequestAttributesSequence."));
    if (!order.studyUid.isEmpty())
        put(*request, DCM_StudyInstanceUID, order.studyUid);
    if (!order.accessionNumber.isEmpty())
        put(*request, DCM_AccessionNumber, singleValue(order.accessionNumber));
    if (!order.accessionIssuer.isEmpty()) {
        DcmItem *issuer = nullptr;
        request->findOrCreateSequenceItem(DCM_IssuerOfAccessionNumberSequence, issuer, 0);
        if (issuer)
            put(*issuer, DCM_LocalNamespaceEntityID, singleValue(order.accessionIssuer));
    }
    if (!order.requestedProcedureId.isEmpty())
        put(*request, DCM_RequestedProcedureID, singleValue(order.requestedProcedureId));
    if (!order.requestedProcedureDescription.isEmpty())
        put(*request, DCM_RequestedProcedureDescription, singleValue(order.requestedProcedureDescription));
    putCodes(*request, DCM_RequestedProcedureCodeSequence, order.requestedProcedureCodes);
    if (!order.scheduledStepId.isEmpty())
        put(*request, DCM_ScheduledProcedureStepID, singleValue(order.scheduledStepId));
    if (!order.scheduledStepDescription.isEmpty())
        put(*request, DCM_ScheduledProcedureStepDescription, singleValue(order.scheduledStepDescription));
    if (!order.protocolCodes.isEmpty())
        putCodes(*request, DCM_ScheduledProtocolCodeSequence, order.protocolCodes);
}

// The sheet's name, or the order's person name while the sheet still shows it: the worklist's
// components survive where the sheet's one field would lose them.
QString patientName(const StudyValues &study)
{
    const QString shown =
        study.order.patientName.section(u'=', 0, 0).split(u'^', Qt::SkipEmptyParts).join(u' ').trimmed();
    if (!study.order.patientName.isEmpty() && shown == study.patientName.trimmed())
        return StudyInstance::personName(study.order.patientName);
    return typedName(study.patientName);
}

void putCommon(DcmDataset &ds, const StudyValues &study, const InstanceIds &ids, const char *sopClass,
               const char *modality)
{
    const QDateTime now = QDateTime::currentDateTime();
    const WorklistOrder &order = study.order;
    put(ds, DCM_SpecificCharacterSet, QStringLiteral("ISO_IR 192"));
    put(ds, DCM_SOPClassUID, QString::fromLatin1(sopClass));
    put(ds, DCM_SOPInstanceUID, ids.sopUid);
    put(ds, DCM_InstanceCreationDate, now.toString(QStringLiteral("yyyyMMdd")));
    put(ds, DCM_InstanceCreationTime, now.toString(QStringLiteral("HHmmss")));
    // Patient
    put(ds, DCM_PatientName, patientName(study));
    put(ds, DCM_PatientID, singleValue(study.patientId));
    if (!order.issuerOfPatientId.isEmpty())
        put(ds, DCM_IssuerOfPatientID, singleValue(order.issuerOfPatientId));
    put(ds, DCM_PatientBirthDate,
        QDate::fromString(order.birthDate, QStringLiteral("yyyyMMdd")).isValid() ? order.birthDate : QString());
    QString sex = StudyInstance::dicomSex(study.sex);
    if (sex.isEmpty() && (order.sex == u"M" || order.sex == u"F" || order.sex == u"O"))
        sex = order.sex;
    put(ds, DCM_PatientSex, sex);
    const QString age = StudyInstance::dicomAge(study.age);
    if (!age.isEmpty())
        put(ds, DCM_PatientAge, age);
    // General Study
    put(ds, DCM_StudyInstanceUID, study.studyUid);
    put(ds, DCM_StudyDate, study.studyTime.toString(QStringLiteral("yyyyMMdd")));
    put(ds, DCM_StudyTime, study.studyTime.toString(QStringLiteral("HHmmss")));
    put(ds, DCM_ReferringPhysicianName,
        order.referringPhysician.isEmpty() ? typedName(study.referringPhysician)
                                           : StudyInstance::personName(order.referringPhysician));
    put(ds, DCM_StudyID,
        singleValue(order.requestedProcedureId.isEmpty() ? study.studyId : order.requestedProcedureId));
    put(ds, DCM_AccessionNumber, singleValue(study.accessionNumber));
    if (!order.accessionIssuer.isEmpty()) {
        DcmItem *issuer = nullptr;
        ds.findOrCreateSequenceItem(DCM_IssuerOfAccessionNumberSequence, issuer, 0);
        if (issuer)
            put(*issuer, DCM_LocalNamespaceEntityID, singleValue(order.accessionIssuer));
    }
    if (!study.studyDescription.trimmed().isEmpty())
        put(ds, DCM_StudyDescription, singleValue(study.studyDescription));
    putCodes(ds, DCM_ProcedureCodeSequence, order.requestedProcedureCodes);
    // General Series and Equipment
    put(ds, DCM_Modality, QString::fromLatin1(modality));
    put(ds, DCM_SeriesInstanceUID, ids.seriesUid);
    put(ds, DCM_SeriesNumber, QString::number(ids.seriesNumber));
    if (!order.isEmpty())
        putRequest(ds, order);
    put(ds, DCM_Manufacturer, QStringLiteral("ExamStation"));
    put(ds, DCM_InstanceNumber, QString::number(ids.instanceNumber));
    put(ds, DCM_ContentDate, study.studyTime.toString(QStringLiteral("yyyyMMdd")));
    put(ds, DCM_ContentTime, study.studyTime.toString(QStringLiteral("HHmmss")));
}

// Rows, columns and the 8-bit, lossy-compressed pixel description both image kinds carry.
void putEightBitPixels(DcmDataset &ds, int width, int height, const QString &compressionMethod)
{
    ds.putAndInsertUint16(DCM_Rows, Uint16(height));
    ds.putAndInsertUint16(DCM_Columns, Uint16(width));
    ds.putAndInsertUint16(DCM_BitsAllocated, 8);
    ds.putAndInsertUint16(DCM_BitsStored, 8);
    ds.putAndInsertUint16(DCM_HighBit, 7);
    ds.putAndInsertUint16(DCM_PixelRepresentation, 0);
    put(ds, DCM_LossyImageCompression, QStringLiteral("01"));
    put(ds, DCM_LossyImageCompressionMethod, compressionMethod);
}

// The compressed bytes as one fragment after an empty offset table, in transfer syntax `xfer`.
void putOneFragment(DcmDataset &ds, QByteArray fragment, E_TransferSyntax xfer, const QString &what)
{
    auto *sequence = new DcmPixelSequence(DcmTag(DCM_PixelData, EVR_OB));
    sequence->insert(new DcmPixelItem(DcmTag(DCM_Item, EVR_OB)));
    DcmOffsetList offsets;
    if (fragment.size() % 2)
        fragment.append('\0');
    OFCondition status =
        sequence->storeCompressedFrame(offsets, reinterpret_cast<Uint8 *>(fragment.data()), Uint32(fragment.size()), 0);
    auto *pixelData = new DcmPixelData(DCM_PixelData);
    pixelData->putOriginalRepresentation(xfer, nullptr, sequence);
    if (status.good())
        status = ds.insert(pixelData, true);
    else
        delete pixelData;
    if (status.bad())
        throw AppError(QStringLiteral("Cannot store the %1 in the DICOM instance: %2")
                           .arg(what, QString::fromLatin1(status.text())));
    ds.updateOriginalXfer();
}

} // namespace

namespace StudyInstance {

// DCMTK's own site root, which OFFIS lets programs built on DCMTK use: the host, process, time
// and counter DCMTK appends keep UIDs of different workstations apart. A clinic with a root of
// its own changes it here.
const char *const kUidRoot = SITE_INSTANCE_UID_ROOT;

QString newUid()
{
    char uid[100];
    dcmGenerateUniqueIdentifier(uid, kUidRoot);
    return QString::fromLatin1(uid);
}

QString dicomSex(const QString &sexField)
{
    const QString sex = sexField.trimmed().toLower();
    if (sex.isEmpty())
        return {};
    if (sex == u"男" || sex == u"m" || sex == u"male")
        return QStringLiteral("M");
    if (sex == u"女" || sex == u"f" || sex == u"female")
        return QStringLiteral("F");
    return QStringLiteral("O");
}

QString personName(const QString &name)
{
    constexpr int kGroupBytes = 64;
    QStringList groups = name.trimmed().split(u'=');
    for (QString &group : groups) {
        QStringList components = group.split(u'^');
        while (components.size() > 1 && components.join(u'^').toUtf8().size() > kGroupBytes)
            components.removeLast();
        QString fitted = components.join(u'^');
        // One component: room is kept for the "^" of the empty given name added below.
        const int room = components.size() == 1 && &group == &groups.first() ? kGroupBytes - 1 : kGroupBytes;
        if (fitted.toUtf8().size() > room)
            fitted = ::fitted(fitted, room, DCM_PersonName);
        else if (fitted != group)
            qCWarning(lcDicom).noquote() << QStringLiteral("person name cut to %1 bytes: \"%2\" became \"%3\"")
                                                .arg(kGroupBytes)
                                                .arg(group, fitted);
        group = fitted;
    }
    while (groups.size() > 1 && groups.last().isEmpty())
        groups.removeLast();
    if (groups.size() == 1 && !groups.first().isEmpty() && !groups.first().contains(u'^'))
        groups.first().append(u'^');
    return groups.join(u'=');
}

QString dicomAge(const QString &ageField)
{
    static const QRegularExpression kAge(QStringLiteral("^\\s*(\\d{1,3})\\s*(\\S*)\\s*$"));
    const QRegularExpressionMatch match = kAge.match(ageField);
    if (!match.hasMatch())
        return {};
    const QString unit = match.captured(2).toLower();
    QChar code = u'Y';
    if (unit.startsWith(u'd') || unit == u"天")
        code = u'D';
    else if (unit.startsWith(u'w') || unit == u"周")
        code = u'W';
    else if (unit.startsWith(u'm') || unit == u"月" || unit == u"个月")
        code = u'M';
    return QStringLiteral("%1%2").arg(match.captured(1).toInt(), 3, 10, QLatin1Char('0')).arg(code);
}

void putText(DcmItem &item, const DcmTagKey &tag, const QString &value)
{
    put(item, tag, value);
}

void putCodeSequence(DcmItem &item, const DcmTagKey &sequence, const QList<DicomCode> &codes)
{
    putCodes(item, sequence, codes);
}

QString patientNameOf(const StudyValues &study)
{
    return patientName(study);
}

void putCommonAttributes(DcmDataset &ds, const StudyValues &study, const InstanceIds &ids, const char *sopClass,
                         const char *modality)
{
    putCommon(ds, study, ids, sopClass, modality);
}

std::unique_ptr<DcmFileFormat> jpegImage(const StudyValues &study, const InstanceIds &ids, const QByteArray &jpeg,
                                         const PixelCalibration &calibration)
{
    const JpegFrame frame = jpegFrame(jpeg);
    auto file = std::make_unique<DcmFileFormat>();
    DcmDataset &ds = *file->getDataset();
    // Secondary Capture: every PACS and viewer stores and shows it, and it asks nothing the
    // workstation does not know (the endoscopic image classes require acquisition context).
    putCommon(ds, study, ids, UID_SecondaryCaptureImageStorage, "ES");
    // The sheet does not say which side: Laterality present and empty, as its type 2C allows.
    put(ds, DCM_Laterality, QString());
    if (!study.performingPhysician.trimmed().isEmpty())
        put(ds, DCM_PerformingPhysicianName, typedName(study.performingPhysician));
    put(ds, DCM_ConversionType, QStringLiteral("DV")); // digitized video
    put(ds, DCM_PatientOrientation, QString());
    put(ds, DCM_SamplesPerPixel, QString::number(frame.components));
    put(ds, DCM_PhotometricInterpretation,
        frame.components == 1 ? QStringLiteral("MONOCHROME2")
                              : (frame.subsampled ? QStringLiteral("YBR_FULL_422") : QStringLiteral("YBR_FULL")));
    if (frame.components == 3)
        ds.putAndInsertUint16(DCM_PlanarConfiguration, 0);
    putEightBitPixels(ds, frame.width, frame.height, QStringLiteral("ISO_10918_1"));
    if (calibration.mmPerPixel > 0) {
        // The Secondary Capture Image module's pixel spacing calibration: measured against an
        // object of known length in the picture's plane, which is what FIDUCIAL stands for.
        const QString spacing = QString::number(calibration.mmPerPixel, 'g', 10);
        put(ds, DCM_PixelSpacing, spacing + u'\\' + spacing);
        put(ds, DCM_PixelSpacingCalibrationType, QStringLiteral("FIDUCIAL"));
        put(ds, DCM_PixelSpacingCalibrationDescription, calibration.description);
    }
    // The JPEG stream as one fragment of one frame, after an empty offset table.
    putOneFragment(ds, jpeg, EXS_JPEGProcess1, QStringLiteral("picture"));
    return file;
}

std::unique_ptr<DcmFileFormat> videoClip(const StudyValues &study, const InstanceIds &ids, const VideoStream &video)
{
    // Level 4.1: 8,192 macroblocks a frame at most, 1920 x 1080 at 30 frames per second.
    if (video.h264.isEmpty() || video.frames < 1 || video.width < 16 || video.height < 16 || video.width > 1920
        || video.height > 1080 || video.fpsNumerator <= 0 || video.fpsDenominator <= 0
        || double(video.fpsNumerator) / video.fpsDenominator > 30.0 + 1e-9)
        throw AppError(QStringLiteral("The clip is not H.264 video within 1920 x 1080 at 30 frames per second."));
    auto file = std::make_unique<DcmFileFormat>();
    DcmDataset &ds = *file->getDataset();
    // Video Endoscopic Image, modality ES as the snapshots of the same study: the workstation
    // stands at endoscopes and colposcopes, and the class asks for no more than it knows.
    putCommon(ds, study, ids, UID_VideoEndoscopicImageStorage, "ES");
    const QString recorded = video.recordedAt.toString(QStringLiteral("yyyyMMdd"));
    put(ds, DCM_ContentDate, recorded);
    put(ds, DCM_ContentTime, video.recordedAt.toString(QStringLiteral("HHmmss")));
    put(ds, DCM_AcquisitionDateTime, video.recordedAt.toString(QStringLiteral("yyyyMMddHHmmss")));
    put(ds, DCM_ImageType, QStringLiteral("ORIGINAL\\PRIMARY"));
    ds.insertEmptyElement(DCM_AcquisitionContextSequence);
    put(ds, DCM_PatientOrientation, QString());
    // The class asks for the region shown; the sheet does not name it, so the clip says the
    // whole body (SNOMED CT 38266002) rather than guess an organ.
    DcmItem *region = nullptr;
    if (ds.findOrCreateSequenceItem(DCM_AnatomicRegionSequence, region).bad() || !region)
        throw AppError(QStringLiteral("Cannot set DICOM attribute AnatomicRegionSequence."));
    put(*region, DCM_CodeValue, QStringLiteral("38266002"));
    put(*region, DCM_CodingSchemeDesignator, QStringLiteral("SCT"));
    put(*region, DCM_CodeMeaning, QStringLiteral("Entire body"));
    // Multi-frame and Cine: every frame lasts the same time.
    const double frameMs = 1000.0 * video.fpsDenominator / video.fpsNumerator;
    const int fps = int(std::lround(double(video.fpsNumerator) / video.fpsDenominator));
    put(ds, DCM_NumberOfFrames, QString::number(video.frames));
    ds.putAndInsertTagKey(DCM_FrameIncrementPointer, DCM_FrameTime);
    put(ds, DCM_FrameTime, QString::number(frameMs, 'f', 4));
    put(ds, DCM_CineRate, QString::number(fps));
    put(ds, DCM_RecommendedDisplayFrameRate, QString::number(fps));
    put(ds, DCM_StartTrim, QStringLiteral("1"));
    put(ds, DCM_StopTrim, QString::number(video.frames));
    put(ds, DCM_ActualFrameDuration, QString::number(std::lround(frameMs)));
    // The image pixel description MPEG-4 AVC/H.264 instances carry: 8-bit 4:2:0 colour.
    put(ds, DCM_SamplesPerPixel, QStringLiteral("3"));
    put(ds, DCM_PhotometricInterpretation, QStringLiteral("YBR_PARTIAL_420"));
    ds.putAndInsertUint16(DCM_PlanarConfiguration, 0);
    putEightBitPixels(ds, video.width, video.height, QStringLiteral("ISO_14496_10"));
    // The whole stream as one fragment after an empty offset table: the form every reader of
    // the MPEG-4 transfer syntaxes takes.
    putOneFragment(ds, video.h264, EXS_MPEG4HighProfileLevel4_1, QStringLiteral("clip"));
    return file;
}

std::unique_ptr<DcmFileFormat> pdfDocument(const StudyValues &study, const InstanceIds &ids, const QByteArray &pdf)
{
    if (!pdf.startsWith("%PDF-"))
        throw AppError(QStringLiteral("The report is not a PDF document."));
    auto file = std::make_unique<DcmFileFormat>();
    DcmDataset &ds = *file->getDataset();
    putCommon(ds, study, ids, UID_EncapsulatedPDFStorage, "DOC");
    put(ds, DCM_ConversionType, QStringLiteral("WSD")); // made on a workstation
    put(ds, DCM_AcquisitionDateTime, study.studyTime.toString(QStringLiteral("yyyyMMddHHmmss")));
    put(ds, DCM_BurnedInAnnotation, QStringLiteral("YES"));
    put(ds, DCM_DocumentTitle, singleValue(study.studyDescription));
    ds.insertEmptyElement(DCM_ConceptNameCodeSequence);
    put(ds, DCM_MIMETypeOfEncapsulatedDocument, QStringLiteral("application/pdf"));
    QByteArray document = pdf;
    if (document.size() % 2)
        document.append('\0'); // even length, as every value; PDF readers ignore what follows %%EOF
    const OFCondition status = ds.putAndInsertUint8Array(
        DCM_EncapsulatedDocument, reinterpret_cast<const Uint8 *>(document.constData()), unsigned(document.size()));
    if (status.bad())
        throw AppError(QStringLiteral("Cannot store the report in the DICOM instance: %1")
                           .arg(QString::fromLatin1(status.text())));
    return file;
}

} // namespace StudyInstance
