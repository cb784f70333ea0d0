#pragma once

#include <QByteArray>
#include <QString>

class QIODevice;

// The logo file and the logo's link: both are stored encrypted, prepared outside the system
// with the fixed keys below; the system only decrypts. Any thread.
namespace func {

// Key texts. The logo key is five GBK characters, "%67" and one more GBK character.
extern const QByteArray kLogoKey;
extern const QByteArray kLinkOuterKey;
extern const QByteArray kLinkInnerKey;

// False when the file does not exist; otherwise decrypts it into output and gives true.
// A broken file throws AppError ("Decrypt stream error." and the like).
bool DecryptLogoFile(const QString &path, QIODevice *output);

// The link of a stored value (hex-pair cipher over a hexadecimal encrypted stream); the empty
// text on any failure.
QString DecryptLink(const QString &value);

// Deciphers the hex-pair cipher: a seed pair, then one pair per output byte, each pair taken
// relative to the one before it under the key used cyclically. Throws AppError on a pair that
// is not hexadecimal or when no pair follows the seed.
QByteArray HexPairDecipher(const QByteArray &cipherText, const QByteArray &keyText);

} // namespace func
