#include "ui/LogoImage.h"

#include <QMouseEvent>

LogoImage::LogoImage(QWidget *parent)
    : QLabel(parent)
{
    setScaledContents(true);
}

void LogoImage::mousePressEvent(QMouseEvent *event)
{
    m_pressed = event->button() == Qt::LeftButton;
    QLabel::mousePressEvent(event);
}

void LogoImage::mouseReleaseEvent(QMouseEvent *event)
{
    // A click is a left press and release both on the logo, as with a button.
    const bool click = m_pressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    m_pressed = false;
    QLabel::mouseReleaseEvent(event);
    if (click)
        emit clicked();
}
