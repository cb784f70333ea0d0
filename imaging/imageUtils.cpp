#include "imaging/imageUtils.h"

#include <cstring>

namespace {

bool isBitmap(const QImage &picture)
{
    return picture.format() == QImage::Format_BGR888 || picture.format() == QImage::Format_RGB888;
}

void ensureBitmap(QImage &picture)
{
    if (!picture.isNull() && !isBitmap(picture))
        picture = picture.convertToFormat(QImage::Format_BGR888);
}

// Builds the turned picture in one working bitmap, walking the source row by row through row
// pointers (rows are 4-byte aligned, never assumed to be 3 W long). target(x, y) gives the
// working pixel that source pixel (x, y) goes to.
template<typename Target> void turn(QImage &picture, Target target)
{
    ensureBitmap(picture);
    const int w = picture.width();
    const int h = picture.height();
    if (w == 0 || h == 0)
        return;
    QImage working(h, w, picture.format());
    uchar *const rows = working.bits();
    const qsizetype rowBytes = working.bytesPerLine();
    for (int y = 0; y < h; ++y) {
        const uchar *source = picture.constScanLine(y);
        for (int x = 0; x < w; ++x) {
            const QPoint to = target(x, y, w, h);
            std::memcpy(rows + to.y() * rowBytes + 3 * to.x(), source + 3 * x, 3);
        }
    }
    // The caller's QImage object takes the turned content, so everyone holding it sees it.
    picture = std::move(working);
}

} // namespace

void TurnBitmapRight(QImage &picture)
{
    // Source (x, y) goes to column H-1-y of row x: the top edge becomes the right edge.
    turn(picture, [](int x, int y, int, int h) { return QPoint(h - 1 - y, x); });
}

void TurnBitmapLeft(QImage &picture)
{
    // Source (x, y) goes to column y of row W-1-x: the top edge becomes the left edge.
    turn(picture, [](int x, int y, int w, int) { return QPoint(y, w - 1 - x); });
}

void GrayBitmap(QImage &bitmap)
{
    ensureBitmap(bitmap);
    // Byte offsets of red and blue within a pixel; green is the middle byte either way.
    const bool bgr = bitmap.format() == QImage::Format_BGR888;
    const int red = bgr ? 2 : 0;
    const int blue = bgr ? 0 : 2;
    for (int y = 0; y < bitmap.height(); ++y) {
        uchar *pixel = bitmap.scanLine(y);
        for (int x = 0; x < bitmap.width(); ++x, pixel += 3) {
            const unsigned g = (77u * pixel[red] + 151u * pixel[1] + 28u * pixel[blue]) >> 8;
            pixel[0] = pixel[1] = pixel[2] = uchar(g);
        }
    }
}
