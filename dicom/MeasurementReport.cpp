#include "dicom/MeasurementReport.h"

#include "core/AppError.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmsr/codes/dcm.h>
#include <dcmtk/dcmsr/codes/ucum.h>
#include <dcmtk/dcmsr/dsrdoc.h>

namespace {

using Tree = DSRDocumentTree;

// SNOMED CT concepts the report names: the length measured and the procedure.
const DSRCodedEntryValue kLength("410668003", "SCT", "Length");
const DSRCodedEntryValue kEndoscopy("423827005", "SCT", "Endoscopy");
const DSRCodedEntryValue kEnglish("en", "RFC5646", "English");

void check(const OFCondition &status, const char *what)
{
    if (status.bad())
        throw AppError(QStringLiteral("Cannot build the measurement report (%1): %2")
                           .arg(QString::fromLatin1(what), QString::fromLatin1(status.text())));
}

// Adds an item below (or after) the current one, with its name name; the cursor moves to it.
void add(Tree &tree, DSRTypes::E_RelationshipType relation, DSRTypes::E_ValueType type, const DSRCodedEntryValue &name,
         DSRTypes::E_AddMode mode)
{
    if (tree.addContentItem(relation, type, mode) == 0)
        throw AppError(QStringLiteral("Cannot build the measurement report: %1 item not allowed here.")
                           .arg(QString::fromLatin1(name.getCodeMeaning().c_str())));
    if (!name.getCodeValue().empty())
        check(tree.getCurrentContentItem().setConceptName(name), "name name");
}

OFString utf8(const QString &text)
{
    return OFString(text.toUtf8().constData());
}

QString decimal(double value)
{
    return QString::number(value, 'g', 10);
}

} // namespace

namespace MeasurementReport {

std::unique_ptr<DcmFileFormat> build(const StudyValues &study, const InstanceIds &ids, const QString &imageSeriesUid,
                                     const QList<ReportedLength> &lengths)
{
    if (lengths.isEmpty())
        throw AppError(QStringLiteral("There are no measurements to report."));
    DSRDocument document(DSRTypes::DT_ComprehensiveSR);
    check(document.setSpecificCharacterSetType(DSRTypes::CS_UTF8), "character set");
    Tree &tree = document.getTree();
    add(tree, DSRTypes::RT_isRoot, DSRTypes::VT_Container, CODE_DCM_ImagingMeasurementReport,
        DSRTypes::AM_afterCurrent);
    check(tree.getCurrentContentItem().setTemplateIdentification("1500", "DCMR"), "template");
    add(tree, DSRTypes::RT_hasConceptMod, DSRTypes::VT_Code, CODE_DCM_LanguageOfContentItemAndDescendants,
        DSRTypes::AM_belowCurrent);
    check(tree.getCurrentContentItem().setCodeValue(kEnglish), "language");
    add(tree, DSRTypes::RT_hasObsContext, DSRTypes::VT_Code, CODE_DCM_ObserverType, DSRTypes::AM_afterCurrent);
    check(tree.getCurrentContentItem().setCodeValue(CODE_DCM_Person), "observer type");
    add(tree, DSRTypes::RT_hasObsContext, DSRTypes::VT_PName, CODE_DCM_PersonObserverName, DSRTypes::AM_afterCurrent);
    // The operator logged in when the lengths were saved; without accounts the diagnosing doctor.
    QString observer =
        study.performingPhysician.trimmed().isEmpty() ? QStringLiteral("Unknown") : study.performingPhysician.trimmed();
    for (const ReportedLength &length : lengths) {
        if (!length.measurement.observer.isEmpty()) {
            observer = length.measurement.observer;
            break;
        }
    }
    // One typed name: the family name, without the characters that would split it.
    observer.replace(u'^', u' ').replace(u'\\', u' ').replace(u'=', u' ');
    observer = StudyInstance::personName(observer);
    check(tree.getCurrentContentItem().setStringValue(utf8(observer), false), "observer");
    add(tree, DSRTypes::RT_hasConceptMod, DSRTypes::VT_Code, CODE_DCM_ProcedureReported, DSRTypes::AM_afterCurrent);
    check(tree.getCurrentContentItem().setCodeValue(kEndoscopy), "procedure");

    // The image library: every picture measured, once.
    const OFString imageClass = UID_SecondaryCaptureImageStorage;
    QStringList images;
    for (const ReportedLength &length : lengths) {
        if (!images.contains(length.imageSopUid))
            images.append(length.imageSopUid);
    }
    add(tree, DSRTypes::RT_contains, DSRTypes::VT_Container, CODE_DCM_ImageLibrary, DSRTypes::AM_afterCurrent);
    add(tree, DSRTypes::RT_contains, DSRTypes::VT_Container, CODE_DCM_ImageLibraryGroup, DSRTypes::AM_belowCurrent);
    for (qsizetype i = 0; i < images.size(); ++i) {
        add(tree, DSRTypes::RT_contains, DSRTypes::VT_Image, {},
            i == 0 ? DSRTypes::AM_belowCurrent : DSRTypes::AM_afterCurrent);
        check(tree.getCurrentContentItem().setImageReference(DSRImageReferenceValue(imageClass, utf8(images[i]))),
              "library image");
        check(document.getCurrentRequestedProcedureEvidence().addItem(utf8(study.studyUid), utf8(imageSeriesUid),
                                                                      imageClass, utf8(images[i])),
              "evidence");
    }
    tree.goUp();
    tree.goUp();

    add(tree, DSRTypes::RT_contains, DSRTypes::VT_Container, CODE_DCM_ImagingMeasurements, DSRTypes::AM_afterCurrent);
    for (qsizetype i = 0; i < lengths.size(); ++i) {
        const Measurement &m = lengths[i].measurement;
        add(tree, DSRTypes::RT_contains, DSRTypes::VT_Container, CODE_DCM_MeasurementGroup,
            i == 0 ? DSRTypes::AM_belowCurrent : DSRTypes::AM_afterCurrent);
        check(tree.getCurrentContentItem().setTemplateIdentification("1501", "DCMR"), "group template");
        add(tree, DSRTypes::RT_hasObsContext, DSRTypes::VT_Text, CODE_DCM_TrackingIdentifier,
            DSRTypes::AM_belowCurrent);
        check(tree.getCurrentContentItem().setStringValue(
                  utf8(QStringLiteral("Slot %1, length %2").arg(m.slot).arg(i + 1))),
              "tracking identifier");
        add(tree, DSRTypes::RT_hasObsContext, DSRTypes::VT_UIDRef, CODE_DCM_TrackingUniqueIdentifier,
            DSRTypes::AM_afterCurrent);
        check(tree.getCurrentContentItem().setStringValue(utf8(StudyInstance::newUid())), "tracking UID");
        add(tree, DSRTypes::RT_contains, DSRTypes::VT_Num, kLength, DSRTypes::AM_afterCurrent);
        check(tree.getCurrentContentItem().setNumericValue(
                  DSRNumericMeasurementValue(utf8(decimal(m.lengthMm)), CODE_UCUM_Millimeter)),
              "length");
        // The line's end points at the centres of their pixels (a pixel's top left corner is
        // its whole coordinate in DICOM's image plane).
        add(tree, DSRTypes::RT_inferredFrom, DSRTypes::VT_SCoord, {}, DSRTypes::AM_belowCurrent);
        DSRSpatialCoordinatesValue line(DSRTypes::GT_Polyline);
        line.getGraphicDataList().addItem(Float32(m.start.x() + 0.5), Float32(m.start.y() + 0.5));
        line.getGraphicDataList().addItem(Float32(m.end.x() + 0.5), Float32(m.end.y() + 0.5));
        check(tree.getCurrentContentItem().setSpatialCoordinates(line), "line");
        add(tree, DSRTypes::RT_selectedFrom, DSRTypes::VT_Image, {}, DSRTypes::AM_belowCurrent);
        check(tree.getCurrentContentItem().setImageReference(
                  DSRImageReferenceValue(imageClass, utf8(lengths[i].imageSopUid))),
              "measured image");
        // Back from the image to the line, the length and the group.
        tree.goUp();
        tree.goUp();
        tree.goUp();
    }
    check(document.completeDocument(), "completion");

    auto file = std::make_unique<DcmFileFormat>();
    DcmDataset &ds = *file->getDataset();
    check(document.write(ds), "writing");
    // The study, series and patient as every instance of the examination says them.
    StudyInstance::putCommonAttributes(ds, study, ids, UID_ComprehensiveSRStorage, "SR");
    if (!study.order.isEmpty()) {
        // A report says its order in the Referenced Request Sequence of its own IOD, where the
        // images carry the Request Attributes Sequence.
        const WorklistOrder &order = study.order;
        ds.findAndDeleteElement(DCM_RequestAttributesSequence);
        DcmItem *request = nullptr;
        if (ds.findOrCreateSequenceItem(DCM_ReferencedRequestSequence, request, 0).bad() || !request)
            throw AppError(QStringLiteral("Cannot set DICOM attribute ReferencedRequestSequence."));
        StudyInstance::putText(*request, DCM_StudyInstanceUID, study.studyUid);
        request->insertEmptyElement(DCM_ReferencedStudySequence);
        StudyInstance::putText(*request, DCM_AccessionNumber, study.accessionNumber);
        StudyInstance::putText(*request, DCM_PlacerOrderNumberImagingServiceRequest, QString());
        StudyInstance::putText(*request, DCM_FillerOrderNumberImagingServiceRequest, QString());
        StudyInstance::putText(*request, DCM_RequestedProcedureID, order.requestedProcedureId);
        StudyInstance::putText(*request, DCM_RequestedProcedureDescription, order.requestedProcedureDescription);
        if (order.requestedProcedureCodes.isEmpty())
            request->insertEmptyElement(DCM_RequestedProcedureCodeSequence);
        else
            StudyInstance::putCodeSequence(*request, DCM_RequestedProcedureCodeSequence, order.requestedProcedureCodes);
    }
    return file;
}

} // namespace MeasurementReport
