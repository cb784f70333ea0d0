#pragma once

#include <QString>

namespace Text {

// The text without its leading and trailing characters of codes 0 to 32: how patient fields,
// header fields, slot file names, findings, phrases and settings are compared and stored.
// Deliberately not QString::trimmed, which would also strip the ideographic space that a
// Chinese phrase may begin with.
inline QString trimmed(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= 32)
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= 32)
        --end;
    return text.mid(begin, end - begin);
}

} // namespace Text
