#include "imaging/ImageControl.h"

#include <QMouseEvent>
#include <QPainter>

ImageControl::ImageControl(QWidget *parent)
    : QWidget(parent)
{
    // A picture of the control's own size covers every pixel; anything else leaves the
    // background (or the control beneath, when transparent) to show.
    setAttribute(Qt::WA_NoSystemBackground);
}

void ImageControl::setPicture(const QImage &picture)
{
    m_picture = picture;
    update();
}

QImage &ImageControl::canvas()
{
    return m_picture;
}

void ImageControl::setStretch(bool stretch)
{
    if (m_stretch == stretch)
        return;
    m_stretch = stretch;
    update();
}

void ImageControl::setTransparent(bool transparent)
{
    if (m_transparent == transparent)
        return;
    m_transparent = transparent;
    update();
}

const QImage &ImageControl::drawable()
{
    if (!m_transparent || m_picture.isNull())
        return m_picture;
    // cacheKey() changes with every write access to the pixels, so drawing on canvas()
    // rebuilds the mask at the next paint.
    if (m_masked.isNull() || m_maskedKey != m_picture.cacheKey()) {
        const QRgb key = m_picture.pixel(0, m_picture.height() - 1) | 0xff000000u;
        m_masked = m_picture.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < m_masked.height(); ++y) {
            auto *row = reinterpret_cast<QRgb *>(m_masked.scanLine(y));
            for (int x = 0; x < m_masked.width(); ++x) {
                if ((row[x] | 0xff000000u) == key)
                    row[x] = 0;
            }
        }
        m_maskedKey = m_picture.cacheKey();
    }
    return m_masked;
}

void ImageControl::paintEvent(QPaintEvent *)
{
    const QImage &image = drawable();
    if (image.isNull())
        return;
    QPainter painter(this);
    if (m_stretch)
        painter.drawImage(rect(), image);
    else
        painter.drawImage(QPoint(0, 0), image);
}

void ImageControl::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_leftPressed = true;
    emit mousePressed(event->button());
}

void ImageControl::mouseReleaseEvent(QMouseEvent *event)
{
    const bool click =
        event->button() == Qt::LeftButton && m_leftPressed && rect().contains(event->position().toPoint());
    if (event->button() == Qt::LeftButton)
        m_leftPressed = false;
    emit mouseReleased(event->button());
    if (click)
        emit clicked();
}

void ImageControl::mouseDoubleClickEvent(QMouseEvent *event)
{
    // The second press of a double-click is a press, but its release is no click.
    m_leftPressed = false;
    emit mousePressed(event->button());
    if (event->button() == Qt::LeftButton)
        emit doubleClicked();
}

void ImageControl::mouseMoveEvent(QMouseEvent *event)
{
    emit mouseMoved(event->position().toPoint());
}
