#include "capture/LivePicture.h"

LivePicture::LivePicture()
    : m_image(kWidth, kHeight, QImage::Format_BGR888)
{
    m_image.fill(QColor(kStartGrey, kStartGrey, kStartGrey));
}

QImage LivePicture::copy()
{
    std::lock_guard guard(m_mutex);
    return m_image.copy();
}

void LivePicture::resetToStartPicture()
{
    std::lock_guard guard(m_mutex);
    m_image.fill(QColor(kStartGrey, kStartGrey, kStartGrey));
}

void LivePicture::requestRepaint()
{
    if (m_repaintPending.exchange(true, std::memory_order_acq_rel))
        return;
    if (m_poster)
        m_poster();
}
