#pragma once

#include <QString>

namespace ExamText {

// The text without its leading and trailing characters of codes 0 to 32: how patient
// fields, slot file names, header fields and phrases are compared and stored.
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

} // namespace ExamText
