#include "records/PatientText.h"

#include <QList>
#include <QStringView>

namespace PatientText {

QString key(const QString &text)
{
    return text.toCaseFolded();
}

std::optional<qint64> numericValue(const QString &number)
{
    if (number.isEmpty() || number.size() > 18)
        return std::nullopt;
    qint64 value = 0;
    for (const QChar c : number) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    return value;
}

PrefixRange prefixRange(const QString &patternKey)
{
    qsizetype literal = 0;
    while (literal < patternKey.size() && patternKey.at(literal) != u'%' && patternKey.at(literal) != u'_')
        ++literal;
    PrefixRange range;
    range.low = patternKey.left(literal);

    // SQLite compares text as UTF-8 bytes, which is code point order. The bound is the front
    // with its last code point raised by one, so every text that starts with the front lies
    // below it and nothing else between.
    QList<uint> points = QStringView(range.low).toUcs4();
    while (!points.isEmpty()) {
        uint last = points.takeLast();
        if (last >= 0x10FFFF)
            continue;
        ++last;
        if (last >= 0xD800 && last <= 0xDFFF)
            last = 0xE000;
        points.append(last);
        range.high = QString::fromUcs4(reinterpret_cast<const char32_t *>(points.constData()), points.size());
        break;
    }
    return range;
}

} // namespace PatientText
