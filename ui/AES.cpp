#include "ui/AES.h"

#include "core/AppError.h"
#include "ui/ElAES.h"

#include <QBuffer>
#include <QFileDevice>
#include <QIODevice>
#include <QtEndian>

#include <algorithm>

namespace AES {
namespace {

const QString kDestNotCreated = QStringLiteral("Dest stream not created.");
const QString kInvalidSize = QStringLiteral("Invalid buffer size for decryption");
const QString kReadError = QStringLiteral("Stream read error");
const QString kWriteError = QStringLiteral("Stream write error");
const QString kDecryptError = QStringLiteral("Decrypt stream error.");

// Decrypts every 16-byte block of data; data must hold whole blocks.
QByteArray decryptBlocks(const QByteArray &data, const QByteArray &keyText)
{
    if (data.size() % ElAES::kBlockSize != 0)
        throw AppError(kInvalidSize);
    ElAES::BlockDecryptor decryptor(ElAES::ExpandKey(keyText));
    QByteArray plain(data.size(), Qt::Uninitialized);
    for (qsizetype offset = 0; offset < data.size(); offset += ElAES::kBlockSize)
        decryptor.decryptBlock(reinterpret_cast<const std::uint8_t *>(data.constData() + offset),
                               reinterpret_cast<std::uint8_t *>(plain.data() + offset));
    return plain;
}

// Cuts the output off at size, as the stream's own size setting does.
void truncateOutput(QIODevice &output, qint64 size)
{
    if (output.size() <= size)
        return;
    if (auto *buffer = qobject_cast<QBuffer *>(&output)) {
        buffer->buffer().resize(size);
        return;
    }
    if (auto *file = qobject_cast<QFileDevice *>(&output); file && file->resize(size))
        return;
    throw AppError(kWriteError);
}

void decryptInto(QIODevice &input, const QByteArray &keyText, QIODevice &output)
{
    if (!input.isReadable() || input.isSequential() || !input.seek(0))
        throw AppError(kReadError);
    const qint64 start = output.pos();

    char lengthField[8];
    if (input.read(lengthField, sizeof lengthField) != qint64(sizeof lengthField))
        throw AppError(kReadError);
    const qint64 length = qFromLittleEndian<qint64>(lengthField);

    const QByteArray blocks = input.readAll();
    if (blocks.isEmpty())
        throw AppError(kReadError);
    const QByteArray plain = decryptBlocks(blocks, keyText);

    // A length field outside the decrypted data is a broken or forged stream: taking it as
    // given would hand garbage (or memory past the data) to whoever reads the result.
    if (length < 0 || length > plain.size())
        throw AppError(kDecryptError);

    if (!output.isWritable() || output.write(plain.constData(), length) != length)
        throw AppError(kWriteError);
    truncateOutput(output, start + length);
    if (!output.seek(start))
        throw AppError(kWriteError);
}

} // namespace

bool DecryptStream(QIODevice &input, const QByteArray &keyText, QIODevice *output)
{
    if (!output)
        throw AppError(kDestNotCreated);
    try {
        decryptInto(input, keyText, *output);
    } catch (const std::exception &) {
        throw AppError(kDecryptError);
    }
    return true;
}

int HexValue(const QByteArray &digits)
{
    bool ok = false;
    const int value = digits.isEmpty() ? 0 : digits.toInt(&ok, 16);
    // toInt also takes signs and blanks; only plain digits are a hexadecimal pair.
    const bool plainDigits = std::all_of(digits.begin(), digits.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    });
    if (!ok || !plainDigits || digits.size() > 2)
        throw AppError(QStringLiteral("'%1' is not a valid integer value").arg(QString::fromLatin1("$" + digits)));
    return value;
}

QByteArray HexToBytes(const QByteArray &hexText)
{
    QByteArray bytes;
    bytes.reserve((hexText.size() + 1) / 2);
    for (qsizetype pos = 0; pos < hexText.size(); pos += 2)
        bytes.append(char(HexValue(hexText.mid(pos, 2))));
    return bytes;
}

QByteArray DecryptString(const QByteArray &hexText, const QByteArray &keyText)
{
    const QByteArray bytes = HexToBytes(hexText);
    return decryptBlocks(bytes.mid(8), keyText);
}

} // namespace AES
