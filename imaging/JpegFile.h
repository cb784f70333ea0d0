#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// JPEG files of the picture slots through libjpeg-turbo: baseline colour JPEG at quality 90 on
// writing, full-size decoding into a 24-bit bitmap on reading. Any thread; no shared state.
//
// The 24-bit bitmap of the system is QImage::Format_BGR888: three bytes per pixel in the
// order blue, green, red, rows top first, each row reached through scanLine().
namespace JpegFile {

constexpr QImage::Format kBitmapFormat = QImage::Format_BGR888;
constexpr int kQuality = 90;

// Throws AppError with the decoder's message when the data is not a readable JPEG.
QImage decode(const QByteArray &data);
// Throws AppError when the file cannot be read or is not a readable JPEG.
QImage read(const QString &path);

// A picture of another format is converted to 24 bits first. Throws AppError on failure.
QByteArray encode(const QImage &picture);
// Replaces any file of that name; the old file stays whole when writing fails.
// Throws AppError("Cannot create file "<path>". <reason>").
void write(const QImage &picture, const QString &path);

} // namespace JpegFile
