#include "core/IniText.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace IniText {
namespace {

const QByteArray kUtf8Bom("\xEF\xBB\xBF", 3);
const QByteArray kUtf16LeBom("\xFF\xFE", 2);
const QByteArray kUtf16BeBom("\xFE\xFF", 2);

QString decodeWith(QStringDecoder decoder, QByteArrayView bytes)
{
    return decoder.decode(bytes);
}

} // namespace

Decoded decode(const QByteArray &bytes)
{
    if (bytes.startsWith(kUtf16LeBom))
        return {decodeWith(QStringDecoder(QStringDecoder::Utf16LE), QByteArrayView(bytes).sliced(2)),
                Encoding::Utf16Le};
    if (bytes.startsWith(kUtf16BeBom))
        return {decodeWith(QStringDecoder(QStringDecoder::Utf16BE), QByteArrayView(bytes).sliced(2)),
                Encoding::Utf16Be};
    if (bytes.startsWith(kUtf8Bom))
        return {decodeWith(QStringDecoder(QStringDecoder::Utf8), QByteArrayView(bytes).sliced(3)), Encoding::Utf8Bom};

    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return {text, Encoding::Utf8};

    QStringDecoder gb18030("GB18030");
    if (gb18030.isValid())
        return {gb18030.decode(bytes), Encoding::Gb18030};
    // Without a GB18030 codec the text is still shown, with replacement characters.
    return {text, Encoding::Utf8};
}

QByteArray encode(const QString &text, Encoding encoding)
{
    switch (encoding) {
    case Encoding::Utf8:
        return text.toUtf8();
    case Encoding::Utf8Bom:
        return kUtf8Bom + text.toUtf8();
    case Encoding::Utf16Le: {
        QStringEncoder encoder(QStringEncoder::Utf16LE);
        return kUtf16LeBom + QByteArray(encoder.encode(text));
    }
    case Encoding::Utf16Be: {
        QStringEncoder encoder(QStringEncoder::Utf16BE);
        return kUtf16BeBom + QByteArray(encoder.encode(text));
    }
    case Encoding::Gb18030:
        // Never written back as GB18030: the encoding is only guessed (not valid UTF-8), and
        // many GB18030 texts are valid UTF-8 once the lines that gave them away are gone
        // ("一" is D2 BB), so the next load would misread every value. The mark makes the
        // file's encoding certain from then on.
        return kUtf8Bom + text.toUtf8();
    }
    return text.toUtf8();
}

QString singleLine(const QString &text)
{
    if (!text.contains(u'\r') && !text.contains(u'\n'))
        return text;
    QString result = text;
    result.replace(u'\r', u' ');
    result.replace(u'\n', u' ');
    return result;
}

QList<Line> splitLines(const QString &text)
{
    QList<Line> lines;
    qsizetype start = 0;
    const qsizetype size = text.size();
    qsizetype i = 0;
    while (i < size) {
        const QChar c = text.at(i);
        if (c == u'\r' || c == u'\n') {
            const qsizetype endLength = (c == u'\r' && i + 1 < size && text.at(i + 1) == u'\n') ? 2 : 1;
            lines.append({text.mid(start, i - start), text.mid(i, endLength)});
            i += endLength;
            start = i;
        } else {
            ++i;
        }
    }
    if (start < size)
        lines.append({text.mid(start), QString()});
    return lines;
}

} // namespace IniText
