#include "ui/func.h"

#include "core/AppError.h"
#include "core/SafeFile.h"
#include "ui/AES.h"

#include <QBuffer>
#include <QFileInfo>
#include <QStringDecoder>

namespace func {

const QByteArray kLogoKey = QByteArray::fromHex("B6ABC4CFCEF7B1B1D6D0253637D1F4");
const QByteArray kLinkOuterKey = QByteArrayLiteral(";QRKf57%n,-t291");
const QByteArray kLinkInnerKey = QByteArrayLiteral("MTk#592617=/8%3");

bool DecryptLogoFile(const QString &path, QIODevice *output)
{
    if (!QFileInfo::exists(path))
        return false;
    // Only a regular file of a sane size is read, so a pipe or a device cannot hang the start.
    QByteArray content;
    QString reason;
    if (!SafeFile::readFile(path, &content, &reason))
        throw AppError(QStringLiteral("Cannot open file \"%1\". %2").arg(path, reason));
    QBuffer file(&content);
    file.open(QIODevice::ReadOnly);
    return AES::DecryptStream(file, kLogoKey, output);
}

QByteArray HexPairDecipher(const QByteArray &cipherText, const QByteArray &keyText)
{
    if (keyText.isEmpty())
        throw AppError(QStringLiteral("Empty cipher key"));
    // Positions count from 0 here: the seed is at 0..1 and the first pair at 2, which is read
    // even when it is a single digit; after it, a lone digit at the very end is left unread.
    int previous = AES::HexValue(cipherText.mid(0, 2));
    QByteArray out;
    qsizetype pos = 2;
    qsizetype keyIndex = -1;
    do {
        const int current = AES::HexValue(cipherText.mid(pos, 2));
        keyIndex = keyIndex + 1 < keyText.size() ? keyIndex + 1 : 0;
        int t = (std::uint8_t(keyText.at(keyIndex))) ^ current;
        // Equal values give 255, so the result stays within one byte.
        t = t <= previous ? t + 255 - previous : t - previous;
        out.append(char(t));
        previous = current;
        pos += 2;
    } while (pos + 1 < cipherText.size());
    return out;
}

QString DecryptLink(const QString &value)
{
    try {
        const QByteArray hexText = HexPairDecipher(value.toLatin1(), kLinkOuterKey);
        QByteArray plain = AES::DecryptString(hexText, kLinkInnerKey);
        const qsizetype end = plain.indexOf('\0');
        if (end >= 0)
            plain.truncate(end);
        // The link was written in the legacy Chinese code page, a superset of ASCII.
        QStringDecoder decoder("GB18030");
        if (!decoder.isValid())
            return QString::fromLatin1(plain);
        return decoder.decode(plain);
    } catch (const std::exception &) {
        return {};
    }
}

} // namespace func
