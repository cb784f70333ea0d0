#include "imaging/JpegFile.h"

#include "core/AppError.h"
#include "core/SafeFile.h"

#include <QFileInfo>

#include <jpeglib.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace JpegFile {
namespace {

constexpr qint64 kMaxBitmapBytes = qint64(256) * 1024 * 1024;
// libjpeg's own working memory beside the bitmap: a progressive file keeps every coefficient
// of the picture, two bytes for each of up to three samples per pixel, so twice the largest
// bitmap is room enough for any picture within it. Beyond it the decoder refuses (it has no
// backing store) instead of allocating.
constexpr long kMaxDecoderMemory = long(2 * kMaxBitmapBytes);

// libjpeg reports a fatal error by calling error_exit, which must not return. It jumps back
// to the setjmp of the function that called into libjpeg with the formatted message kept.
// Those functions create no object with a destructor after their setjmp, so the jump skips
// no destructor; every owning object lives in their callers.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void onFatalError(j_common_ptr info)
{
    auto *errors = reinterpret_cast<ErrorManager *>(info->err);
    (*info->err->format_message)(info, errors->message);
    std::longjmp(errors->jump, 1);
}

// Warnings (corrupt but decodable data) are the decoder's own business; the picture is kept
// as far as it could be decoded, as the library does by default.
void onMessage(j_common_ptr, int) { }

struct Decoder {
    Decoder()
    {
        info.err = jpeg_std_error(&errors.pub);
        errors.pub.error_exit = onFatalError;
        errors.pub.emit_message = onMessage;
        errors.message[0] = '\0';
    }
    ~Decoder() { jpeg_destroy_decompress(&info); }
    Decoder(const Decoder &) = delete;
    Decoder &operator=(const Decoder &) = delete;

    jpeg_decompress_struct info{};
    ErrorManager errors{};
};

struct Encoder {
    Encoder()
    {
        info.err = jpeg_std_error(&errors.pub);
        errors.pub.error_exit = onFatalError;
        errors.pub.emit_message = onMessage;
        errors.message[0] = '\0';
    }
    ~Encoder()
    {
        jpeg_destroy_compress(&info);
        std::free(output);
    }
    Encoder(const Encoder &) = delete;
    Encoder &operator=(const Encoder &) = delete;

    jpeg_compress_struct info{};
    ErrorManager errors{};
    unsigned char *output = nullptr;
    unsigned long outputSize = 0;
};

enum class Begun { Ok, Broken, TooLarge };

// Reads the header and starts decompression into blue, green, red pixels. The picture's size
// is checked between the two: starting a progressive file allocates buffers for the whole
// picture, gigabytes for a header of a few hundred bytes claiming 65500 x 65500 pixels.
Begun beginDecoding(Decoder *decoder, const unsigned char *data, unsigned long size)
{
    if (setjmp(decoder->errors.jump))
        return Begun::Broken;
    jpeg_create_decompress(&decoder->info);
    decoder->info.mem->max_memory_to_use = kMaxDecoderMemory;
    jpeg_mem_src(&decoder->info, data, size);
    jpeg_read_header(&decoder->info, TRUE);
    if (qint64(decoder->info.image_width) * decoder->info.image_height * 3 > kMaxBitmapBytes)
        return Begun::TooLarge;
    decoder->info.out_color_space = JCS_EXT_BGR;
    decoder->info.scale_num = 1;
    decoder->info.scale_denom = 1;
    jpeg_start_decompress(&decoder->info);
    return Begun::Ok;
}

bool decodeRows(Decoder *decoder, unsigned char *bits, qsizetype bytesPerLine)
{
    if (setjmp(decoder->errors.jump))
        return false;
    while (decoder->info.output_scanline < decoder->info.output_height) {
        JSAMPROW row = bits + qsizetype(decoder->info.output_scanline) * bytesPerLine;
        jpeg_read_scanlines(&decoder->info, &row, 1);
    }
    jpeg_finish_decompress(&decoder->info);
    return true;
}

bool encodeRows(Encoder *encoder, const QImage *picture)
{
    if (setjmp(encoder->errors.jump))
        return false;
    jpeg_compress_struct &info = encoder->info;
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &encoder->output, &encoder->outputSize);
    info.image_width = JDIMENSION(picture->width());
    info.image_height = JDIMENSION(picture->height());
    info.input_components = 3;
    info.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&info);
    // Baseline: quantisation tables limited to 8 bits, sequential (no progression), Huffman
    // tables standard - a SOF0 file every JPEG reader understands.
    jpeg_set_quality(&info, kQuality, TRUE);
    // No input smoothing: it would take libjpeg-turbo off its SIMD path and double the time
    // of every slot picture written.
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        // libjpeg does not write through the row pointer; the cast only fits its signature.
        JSAMPROW row = const_cast<uchar *>(picture->constScanLine(int(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    return true;
}

AppError decoderError(const ErrorManager &errors)
{
    return AppError(QString::fromLocal8Bit(errors.message));
}

} // namespace

QImage decode(const QByteArray &data)
{
    Decoder decoder;
    const Begun begun = beginDecoding(&decoder, reinterpret_cast<const unsigned char *>(data.constData()),
                                      static_cast<unsigned long>(data.size()));
    if (begun == Begun::Broken)
        throw decoderError(decoder.errors);
    // A header may claim up to 65500 x 65500 pixels; refuse what no slot picture comes near
    // rather than try to allocate gigabytes for it.
    if (begun == Begun::TooLarge)
        throw AppError(QStringLiteral("Out of memory"));
    const qint64 bytes = qint64(decoder.info.output_width) * decoder.info.output_height * 3;
    if (bytes > kMaxBitmapBytes)
        throw AppError(QStringLiteral("Out of memory"));
    QImage picture(int(decoder.info.output_width), int(decoder.info.output_height), kBitmapFormat);
    if (picture.isNull())
        throw AppError(QStringLiteral("Out of memory"));
    if (!decodeRows(&decoder, picture.bits(), picture.bytesPerLine()))
        throw decoderError(decoder.errors);
    return picture;
}

QImage read(const QString &path)
{
    // Read only when a regular file of a sane size: a pipe or a device in images/ must not
    // hang the reload or fill the memory.
    QByteArray data;
    QString reason;
    if (!QFileInfo::exists(path))
        reason = QString::fromLocal8Bit(std::strerror(ENOENT));
    else
        SafeFile::readFile(path, &data, &reason);
    if (!reason.isEmpty())
        throw AppError(QStringLiteral("Cannot open file \"%1\". %2").arg(path, reason));
    return decode(data);
}

QByteArray encode(const QImage &picture)
{
    if (picture.isNull())
        throw AppError(QStringLiteral("Cannot encode an empty picture"));
    const QImage bitmap = picture.convertToFormat(kBitmapFormat);
    Encoder encoder;
    if (!encodeRows(&encoder, &bitmap))
        throw AppError(QString::fromLocal8Bit(encoder.errors.message));
    return QByteArray(reinterpret_cast<const char *>(encoder.output), qsizetype(encoder.outputSize));
}

void write(const QImage &picture, const QString &path)
{
    const QByteArray data = encode(picture);
    // Written beside the target and renamed over it, so a failed write (disk full, killed
    // process) leaves the earlier file whole.
    QString reason;
    if (!SafeFile::saveWhole(path, data, &reason))
        throw AppError(QStringLiteral("Cannot create file \"%1\". %2").arg(path, reason));
}

} // namespace JpegFile
