#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Shared text handling of the two settings files: decoding with the byte-order-mark rules,
// encoding back in the same form, line splitting and the all-or-nothing save. Window thread only.
namespace IniText {

// How a settings file's bytes are encoded, so a write can keep the form it found.
enum class Encoding { Utf8, Utf8Bom, Utf16Le, Utf16Be, Gb18030 };

struct Decoded {
    QString text;
    Encoding encoding = Encoding::Utf8;
};

// UTF-16 (LE or BE) and UTF-8 with a byte-order mark are taken by their mark; bytes without one
// are UTF-8 when valid, otherwise GB18030 (the code page of the Chinese installations whose
// files still carry it).
Decoded decode(const QByteArray &bytes);
// A text read as GB18030 is written as UTF-8 with a byte-order mark (see encode), so every value
// reads back identical after any number of saves; the other encodings are kept.
QByteArray encode(const QString &text, Encoding encoding);

// Line breaks inside one value would split it into several lines of the file (and could even
// forge a section line), so each becomes a blank.
QString singleLine(const QString &text);

// One line and the terminator it ended with ("\r\n", "\n", "\r" or empty for the last line).
struct Line {
    QString text;
    QString end;
};
QList<Line> splitLines(const QString &text);

} // namespace IniText
