#pragma once

#include "core/Measurement.h"
#include "dicom/StudyInstance.h"

#include <QList>
#include <QString>

#include <memory>

class DcmFileFormat;

// One measured length and the image instance (Secondary Capture) it was measured on.
struct ReportedLength {
    Measurement measurement;
    QString imageSopUid;
};

// The lengths of one examination as a DICOM Comprehensive SR in the Imaging Measurement
// Report template (TID 1500, DCMR): per length a measurement group with a numeric value in
// millimetres (UCUM "mm"), inferred from the line as a two-point polyline on its image,
// referenced by SOP instance. The observer is the operator logged in when the lengths were saved,
// or without accounts the study's performing (diagnosing) physician.
// Built with DCMTK's dcmsr document tree. Any thread.
namespace MeasurementReport {

// Throws AppError when there is nothing to report or DCMTK refuses the document.
std::unique_ptr<DcmFileFormat> build(const StudyValues &study, const InstanceIds &ids, const QString &imageSeriesUid,
                                     const QList<ReportedLength> &lengths);

} // namespace MeasurementReport
