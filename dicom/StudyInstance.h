#pragma once

#include "dicom/WorklistOrder.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <memory>

class DcmDataset;
class DcmFileFormat;
class DcmItem;
class DcmTagKey;

// What every instance of one examination says about its patient and study, as plain values
// taken from the examination record.
struct StudyValues {
    QString patientId; // the patient's number
    QString patientName;
    QString sex; // the sex field as entered (男/女, Male/Female, M/F/O)
    QString age; // the age field as entered ("42", "42岁", "6 months")
    QDateTime studyTime; // the record's date
    QString referringPhysician; // requesting doctor
    QString performingPhysician; // diagnosing doctor
    QString studyDescription; // report title
    QString accessionNumber; // from the worklist, empty otherwise
    QString studyUid;
    QString studyId; // the record's number; the order's Requested Procedure ID takes its place
    WorklistOrder order; // empty without a worklist item
};

// Where one instance stands in its study.
struct InstanceIds {
    QString seriesUid;
    QString sopUid;
    int seriesNumber = 1;
    int instanceNumber = 1;
};

// A recorded clip's H.264 video (High profile, level 4.1 at most) as one Annex B elementary
// stream, with what the instance says of its frames.
struct VideoStream {
    QByteArray h264;
    int width = 0;
    int height = 0;
    int frames = 0;
    int fpsNumerator = 0;
    int fpsDenominator = 1;
    QDateTime recordedAt; // when the recording ended
};

// How a picture's pixels measure: millimetres per pixel (square pixels) and how that was found.
// Empty (0) for a picture never calibrated.
struct PixelCalibration {
    double mmPerPixel = 0;
    QString description;
};

// Builds DICOM instances from plain values: a snapshot picture kept as the very JPEG file
// stored (Secondary Capture Image, JPEG Baseline transfer syntax, no re-encoding), the
// report page (Encapsulated PDF) and a recorded clip (Video Endoscopic Image, MPEG-4 AVC/H.264
// High Profile / Level 4.1 transfer syntax, the stream as recorded). Every text is UTF-8
// (ISO_IR 192) and fits its value representation: a longer value is cut at a character
// boundary, and each cut is logged. With a worklist order the instance carries the order
// (Request Attributes Sequence, the order's patient and referring physician). Any thread.
namespace StudyInstance {

// The root of every UID made here (DCMTK's generator appends host, process, time and a count).
extern const char *const kUidRoot;
QString newUid();

// DICOM code strings of the sheet's fields: M/F/O (empty when the field is empty) and an age
// string such as "042Y" (empty when the field holds no number).
QString dicomSex(const QString &sexField);
QString dicomAge(const QString &ageField);

// A person name (PN) fitted to 64 bytes per component group: trailing components (suffix,
// prefix, middle, given name) are dropped first, the family name is cut last, at a character
// boundary. A name of one component keeps an empty given name ("张伟^"), so that it never
// reads as the retired one-component form.
QString personName(const QString &name);

// What the procedure step shares with the instances: a text put into an item, fitted to its
// value representation (AppError when DCMTK refuses it); a code sequence; the patient's name
// and the referring physician as the instances carry them.
void putText(DcmItem &item, const DcmTagKey &tag, const QString &value);
void putCodeSequence(DcmItem &item, const DcmTagKey &sequence, const QList<DicomCode> &codes);
QString patientNameOf(const StudyValues &study);

// The patient, study, series, equipment and SOP attributes every instance carries, for an
// instance of class `sopClass` built elsewhere (the measurement report).
void putCommonAttributes(DcmDataset &ds, const StudyValues &study, const InstanceIds &ids, const char *sopClass,
                         const char *modality);

// Throws AppError when jpeg is not a baseline JPEG picture of 8 bits (1 or 3 components). A
// calibrated picture carries its Pixel Spacing, calibration type FIDUCIAL and the description.
std::unique_ptr<DcmFileFormat> jpegImage(const StudyValues &study, const InstanceIds &ids, const QByteArray &jpeg,
                                         const PixelCalibration &calibration = {});
// Throws AppError when the stream is empty or its frame size or rate lies outside level 4.1.
std::unique_ptr<DcmFileFormat> videoClip(const StudyValues &study, const InstanceIds &ids, const VideoStream &video);
std::unique_ptr<DcmFileFormat> pdfDocument(const StudyValues &study, const InstanceIds &ids, const QByteArray &pdf);

} // namespace StudyInstance
