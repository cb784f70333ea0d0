#include "CipherFixtures.h"

#include <QProcess>
#include <QtEndian>

#include <stdexcept>

namespace CipherFixtures {

QByteArray expandKey(const QByteArray &keyText)
{
    QByteArray key = keyText.left(16);
    key.append(QByteArray(16 - key.size(), '\0'));
    return key;
}

QByteArray opensslEncrypt(const QByteArray &data, const QByteArray &keyText)
{
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("enc"), QStringLiteral("-aes-128-ecb"), QStringLiteral("-nopad"),
                   QStringLiteral("-K"), QString::fromLatin1(expandKey(keyText).toHex())});
    if (!openssl.waitForStarted())
        throw std::runtime_error("cannot start openssl");
    openssl.write(data);
    openssl.closeWriteChannel();
    if (!openssl.waitForFinished() || openssl.exitCode() != 0)
        throw std::runtime_error("openssl failed: " + openssl.readAllStandardError().toStdString());
    return openssl.readAllStandardOutput();
}

QByteArray encryptStream(const QByteArray &plain, const QByteArray &keyText, qint64 lengthField, char fill)
{
    QByteArray padded = plain;
    while (padded.size() % 16 != 0 || padded.isEmpty())
        padded.append(fill);
    char field[8];
    qToLittleEndian<qint64>(lengthField == -1 ? plain.size() : lengthField, field);
    return QByteArray(field, 8) + opensslEncrypt(padded, keyText);
}

QByteArray hexPairEncipher(const QByteArray &plain, const QByteArray &keyText, int seed)
{
    // Each output byte p came from t = key ^ cur with p = t - prev (t > prev) or
    // p = t + 255 - prev (t <= prev); pick the t that gives p back.
    QByteArray out = QByteArray::number(seed, 16).rightJustified(2, '0');
    int prev = seed;
    for (qsizetype j = 0; j < plain.size(); ++j) {
        const int p = quint8(plain.at(j));
        int t;
        if (p > 0 && p + prev <= 255)
            t = p + prev;
        else if (p + prev >= 255)
            t = p + prev - 255;
        else
            throw std::runtime_error("byte cannot follow this pair");
        const int cur = t ^ quint8(keyText.at(j % keyText.size()));
        out += QByteArray::number(cur, 16).rightJustified(2, '0').toUpper();
        prev = cur;
    }
    return out;
}

QString encipherLink(const QByteArray &link)
{
    const QByteArray inner = encryptStream(link, QByteArrayLiteral("MTk#592617=/8%3")).toHex().toUpper();
    return QString::fromLatin1(hexPairEncipher(inner, QByteArrayLiteral(";QRKf57%n,-t291"), 0x5A));
}

} // namespace CipherFixtures
