#pragma once

#include <QImage>

// Copies the centre 640 x 480 of a 24-bit frame (blue, green, red bytes; rows top first, `stride`
// bytes apart) 1:1 into the live picture `live` (640 x 480, Format_BGR888). The source rectangle
// starts at left = (W - 640) / 2, top = (H - 480) / 2, rounding toward zero. A frame narrower
// or lower than the picture leaves mid-grey strips where it does not reach. The caller holds
// the live picture's lock.
void CopyFrameCentre(const uchar *frame, int width, int height, qsizetype stride, QImage &live);
