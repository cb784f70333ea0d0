#include "dicom/WorklistOrder.h"

#include <QStringList>

QString WorklistOrder::codesText(const QList<DicomCode> &codes)
{
    QStringList lines;
    for (const DicomCode &code : codes)
        lines.append(QStringList{code.value, code.scheme, code.meaning}.join(u'\t'));
    return lines.join(u'\n');
}

QList<DicomCode> WorklistOrder::codesFromText(const QString &text)
{
    QList<DicomCode> codes;
    for (const QString &line : text.split(u'\n', Qt::SkipEmptyParts)) {
        const QStringList parts = line.split(u'\t');
        codes.append({.value = parts.value(0), .scheme = parts.value(1), .meaning = parts.value(2)});
    }
    return codes;
}
