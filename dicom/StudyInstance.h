#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <memory>

class DcmFileFormat;

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

// Builds DICOM instances from plain values: a snapshot picture kept as the very JPEG file
// stored (Secondary Capture Image, JPEG Baseline transfer syntax, no re-encoding), the
// report page (Encapsulated PDF) and a recorded clip (Video Endoscopic Image, MPEG-4 AVC/H.264
// High Profile / Level 4.1 transfer syntax, the stream as recorded). Every text is UTF-8 (ISO_IR 192). Any thread.
namespace StudyInstance {

// The root of every UID made here (DCMTK's generator appends host, process, time and a count).
extern const char *const kUidRoot;
QString newUid();

// DICOM code strings of the sheet's fields: M/F/O (empty when the field is empty) and an age
// string such as "042Y" (empty when the field holds no number).
QString dicomSex(const QString &sexField);
QString dicomAge(const QString &ageField);

// Throws AppError when jpeg is not a baseline JPEG picture of 8 bits (1 or 3 components).
std::unique_ptr<DcmFileFormat> jpegImage(const StudyValues &study, const InstanceIds &ids, const QByteArray &jpeg);
// Throws AppError when the stream is empty or its frame size or rate lies outside level 4.1.
std::unique_ptr<DcmFileFormat> videoClip(const StudyValues &study, const InstanceIds &ids, const VideoStream &video);
std::unique_ptr<DcmFileFormat> pdfDocument(const StudyValues &study, const InstanceIds &ids, const QByteArray &pdf);

} // namespace StudyInstance
