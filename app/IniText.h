#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Shared text handling of the two settings files: decoding with the byte-order-mark rules,
// encoding back in the same form, line splitting and the all-or-nothing save. Window thread only.
namespace IniText {

// How a settings file's bytes are encoded, so a write can keep the form it found.
enum class Encoding { Utf8, Utf8Bom, Utf16Le, Utf16Be, Gb18030 };

struct Decoded
{
    QString text;
    Encoding encoding = Encoding::Utf8;
};

// UTF-16 (LE or BE) and UTF-8 with a byte-order mark are taken by their mark; bytes without one
// are UTF-8 when valid, otherwise GB18030 (the code page of the Chinese installations whose
// files still carry it).
Decoded decode(const QByteArray &bytes);
QByteArray encode(const QString &text, Encoding encoding);

// Without leading and trailing characters of codes 0 to 32. Deliberately not QString::trimmed,
// which would also strip the ideographic space that Chinese phrases may begin with.
QString trimmed(const QString &text);

// Line breaks inside one value would split it into several lines of the file (and could even
// forge a section line), so each becomes a blank.
QString singleLine(const QString &text);

// One line and the terminator it ended with ("\r\n", "\n", "\r" or empty for the last line).
struct Line
{
    QString text;
    QString end;
};
QList<Line> splitLines(const QString &text);

// The whole file; a missing file reads as no bytes. Returns false (with *reason) only when
// the file exists and cannot be read, so callers never mistake it for an empty one.
bool readFile(const QString &path, QByteArray *bytes, QString *reason);

// Writes the bytes to a temporary file beside the target, syncs it and renames it over the
// target, so a crash, a kill or a full disk leaves the old file or the new one, never a torn
// one. Returns false with the platform's reason when the file cannot be written.
bool saveWhole(const QString &path, const QByteArray &bytes, QString *reason);

} // namespace IniText
