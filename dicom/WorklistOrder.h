#pragma once

#include <QList>
#include <QString>

// One coded entry of a code sequence (Code Value, Coding Scheme Designator, Code Meaning).
struct DicomCode {
    QString value;
    QString scheme;
    QString meaning;

    bool operator==(const DicomCode &) const = default;
};

// The order a worklist item places, as the worklist sent it: kept with the examination and put
// into every instance of it, so the RIS and the PACS match the pictures to the order. Texts are
// UTF-8; names are DICOM person names ("Family^Given"); the birth date is "yyyyMMdd".
struct WorklistOrder {
    QString studyUid;
    QString accessionNumber;
    QString accessionIssuer; // Issuer of Accession Number: its local namespace
    QString requestedProcedureId;
    QString requestedProcedureDescription;
    QList<DicomCode> requestedProcedureCodes;
    QString scheduledStepId;
    QString scheduledStepDescription;
    QList<DicomCode> protocolCodes;
    QString referringPhysician;
    QString patientName;
    QString birthDate;
    QString sex;
    QString issuerOfPatientId;

    // An examination without a worklist item has none of the order's identifiers.
    bool isEmpty() const
    {
        return studyUid.isEmpty() && accessionNumber.isEmpty() && requestedProcedureId.isEmpty()
            && scheduledStepId.isEmpty();
    }
    bool operator==(const WorklistOrder &) const = default;

    // The code sequences as one text for storage (one code a line, its parts separated by tabs)
    // and back.
    static QString codesText(const QList<DicomCode> &codes);
    static QList<DicomCode> codesFromText(const QString &text);
};
