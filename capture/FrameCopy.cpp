#include "capture/FrameCopy.h"

#include "capture/LivePicture.h"

#include <algorithm>
#include <cstring>

void CopyFrameCentre(const uchar *frame, int width, int height, qsizetype stride, QImage &live)
{
    constexpr int kW = LivePicture::kWidth;
    constexpr int kH = LivePicture::kHeight;
    if (!frame || width <= 0 || height <= 0 || live.width() != kW || live.height() != kH
        || live.format() != QImage::Format_BGR888)
        return;

    const int left = (width - kW) / 2; // C++ division rounds toward zero, as the picture wants
    const int top = (height - kH) / 2;
    // The part of the live picture the frame covers (all of it for frames of 640 x 480 and up).
    const int firstX = std::max(0, -left);
    const int lastX = std::min(kW, width - left);
    const int firstY = std::max(0, -top);
    const int lastY = std::min(kH, height - top);
    const bool covers = firstX == 0 && lastX == kW && firstY == 0 && lastY == kH;

    const qsizetype rowBytes = qsizetype(lastX - firstX) * 3;
    for (int y = 0; y < kH; ++y) {
        uchar *target = live.scanLine(y);
        if (covers || (y >= firstY && y < lastY)) {
            if (!covers) {
                std::memset(target, LivePicture::kStartGrey, size_t(firstX) * 3);
                std::memset(target + qsizetype(lastX) * 3, LivePicture::kStartGrey, size_t(kW - lastX) * 3);
            }
            const uchar *source = frame + qsizetype(y + top) * stride + qsizetype(firstX + left) * 3;
            std::memcpy(target + qsizetype(firstX) * 3, source, size_t(rowBytes));
        } else {
            std::memset(target, LivePicture::kStartGrey, size_t(kW) * 3);
        }
    }
}
