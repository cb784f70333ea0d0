#include "capture/LivePicture.h"

#include <QPainter>

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

void LivePicture::showNoCamera(const QString &text)
{
    QImage picture(kWidth, kHeight, QImage::Format_RGB32);
    picture.fill(QColor(kNoCameraGrey, kNoCameraGrey, kNoCameraGrey));
    {
        QPainter painter(&picture);
        QFont font = painter.font();
        font.setPixelSize(28);
        painter.setFont(font);
        painter.setPen(QColor(220, 220, 220));
        painter.drawText(picture.rect(), Qt::AlignCenter, text);
    }
    {
        std::lock_guard guard(m_mutex);
        m_image = picture.convertToFormat(QImage::Format_BGR888);
    }
    requestRepaint();
}
