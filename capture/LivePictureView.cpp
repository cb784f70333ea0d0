#include "capture/LivePictureView.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

namespace {
const QEvent::Type kFrameArrived = static_cast<QEvent::Type>(QEvent::registerEventType());
}

LivePictureView::LivePictureView(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    // postEvent is safe from any thread, and events of a destroyed receiver are discarded.
    m_picture.setRepaintPoster([this] { QCoreApplication::postEvent(this, new QEvent(kFrameArrived)); });
}

LivePictureView::~LivePictureView()
{
    m_picture.setRepaintPoster({});
}

void LivePictureView::customEvent(QEvent *event)
{
    if (event->type() != kFrameArrived) {
        QWidget::customEvent(event);
        return;
    }
    m_picture.repaintTaken();
    update();
}

void LivePictureView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    std::lock_guard guard(m_picture.mutex());
    const QImage &image = m_picture.bitsLocked();
    if (size() == image.size())
        painter.drawImage(0, 0, image);
    else
        painter.drawImage(rect(), image);
}

void LivePictureView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_leftPressed = true;
    QWidget::mousePressEvent(event);
}

void LivePictureView::mouseDoubleClickEvent(QMouseEvent *event)
{
    // Qt reports the second press of a double-click here instead of as a press.
    if (event->button() == Qt::LeftButton) {
        m_inDoubleClick = true;
        m_leftPressed = false;
        emit doubleClicked();
    }
}

void LivePictureView::mouseReleaseEvent(QMouseEvent *event)
{
    const Qt::MouseButton button = event->button();
    const QPoint position = event->position().toPoint();
    QPointer<LivePictureView> alive(this);
    if (button == Qt::LeftButton) {
        const bool click = m_leftPressed && !m_inDoubleClick && rect().contains(position);
        m_leftPressed = false;
        m_inDoubleClick = false;
        if (click)
            emit clicked();
    }
    if (alive)
        emit mouseReleased(button, position);
}
