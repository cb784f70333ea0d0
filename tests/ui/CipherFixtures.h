#pragma once

#include <QByteArray>
#include <QString>

// Encrypted fixtures made the way the logo file and the link are prepared outside the system:
// AES-128-ECB by the openssl command line, the hex-pair cipher by its definition.
namespace CipherFixtures {

// The 16-byte key of a key text: the text, zero-filled to 16 bytes.
QByteArray expandKey(const QByteArray &keyText);

// openssl enc -aes-128-ecb -nopad over data (whole blocks); throws on failure.
QByteArray opensslEncrypt(const QByteArray &data, const QByteArray &keyText);

// An encrypted stream: length field plus plain data filled with fill up to whole blocks.
// lengthField overrides the stored N (for broken streams).
QByteArray encryptStream(const QByteArray &plain, const QByteArray &keyText, qint64 lengthField = -1, char fill = '\0');

// The hex-pair cipher text of plain under keyText, starting from seed.
QByteArray hexPairEncipher(const QByteArray &plain, const QByteArray &keyText, int seed);

// A stored link value as config.ini holds it.
QString encipherLink(const QByteArray &link);

} // namespace CipherFixtures
