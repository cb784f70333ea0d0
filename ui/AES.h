#pragma once

#include <QByteArray>
#include <QString>

class QIODevice;

// Decryption of the system's encrypted streams: an 8-byte little-endian length N followed by
// the plain data, filled up to whole 16-byte blocks and encrypted block by block with AES-128
// (unit ElAES). Failures throw AppError with the texts below. Any thread.
namespace AES {

// Decrypts the whole of input (read from its beginning) into output at output's current
// position; output then holds exactly N plain bytes from that position, which it is set back
// to. Throws "Dest stream not created." without an output and "Decrypt stream error." for a
// broken stream (short, not whole blocks, unreadable, unwritable, or N outside the data).
bool DecryptStream(QIODevice &input, const QByteArray &keyText, QIODevice *output);

// Decrypts a stream given as hexadecimal text; the result is every decrypted byte, fill
// included (the length field is passed over, not applied).
QByteArray DecryptString(const QByteArray &hexText, const QByteArray &keyText);

// Two hexadecimal digits per byte, either case; a single digit at the end of a text of odd
// length is one byte too. Throws AppError on a character that is not a hexadecimal digit.
QByteArray HexToBytes(const QByteArray &hexText);

// Reads one or two hexadecimal digits as a number; throws AppError on anything else (an
// empty text included).
int HexValue(const QByteArray &digits);

} // namespace AES
