#include "imaging/OverlayDrag.h"

#include "imaging/ImageControl.h"

#include <QImage>
#include <QMouseEvent>

#include <cmath>
#include <cstdlib>

OverlayDrag::OverlayDrag(ImageControl *overlay, QObject *parent)
    : QObject(parent)
    , m_overlay(overlay)
    , m_watched(overlay)
{
    if (overlay)
        overlay->installEventFilter(this);
}

void OverlayDrag::imageFrontMouseDown(Qt::MouseButton button, QPoint position)
{
    if (button != Qt::LeftButton)
        return;
    m_start = position;
    m_last = position;
    m_dragging = true;
}

void OverlayDrag::imageFrontMouseMove(QPoint position)
{
    if (!m_dragging || !m_overlay)
        return;
    if (m_moveAllowed && !m_moveAllowed())
        return;
    QImage &canvas = m_overlay->canvas();
    if (canvas.isNull())
        return;
    // The old band is erased by inverting it once more, so whatever lay beneath comes back.
    invertLine(canvas, m_start, m_last);
    invertLine(canvas, m_start, position);
    m_last = position;
    m_overlay->update();
}

void OverlayDrag::imageFrontMouseUp(Qt::MouseButton button, QPoint position)
{
    // A release without its own press (pressed outside the overlay) ends no drag.
    if (button != Qt::LeftButton || !m_dragging)
        return;
    m_end = position;
    m_dragging = false;
    if (m_releaseRule)
        m_releaseRule(m_start, m_end);
}

double OverlayDrag::distance(QPoint start, QPoint end)
{
    const qint64 dx = end.x() - start.x();
    const qint64 dy = end.y() - start.y();
    return std::sqrt(static_cast<double>(dx * dx + dy * dy));
}

void OverlayDrag::invertLine(QImage &picture, QPoint from, QPoint to)
{
    if (picture.isNull())
        return;
    if (picture.depth() != 24)
        picture.convertTo(QImage::Format_BGR888);
    const int width = picture.width();
    const int height = picture.height();
    auto invert = [&](int x, int y) {
        if (x < 0 || y < 0 || x >= width || y >= height)
            return;
        uchar *pixel = picture.scanLine(y) + 3 * x;
        pixel[0] = static_cast<uchar>(~pixel[0]);
        pixel[1] = static_cast<uchar>(~pixel[1]);
        pixel[2] = static_cast<uchar>(~pixel[2]);
    };
    // Bresenham: the same two points always give the same pixels, which the erasing relies on.
    int x = from.x();
    int y = from.y();
    const int dx = std::abs(to.x() - x);
    const int dy = -std::abs(to.y() - y);
    const int stepX = x < to.x() ? 1 : -1;
    const int stepY = y < to.y() ? 1 : -1;
    int error = dx + dy;
    for (;;) {
        invert(x, y);
        if (x == to.x() && y == to.y())
            break;
        const int doubled = 2 * error;
        if (doubled >= dy) {
            error += dy;
            x += stepX;
        }
        if (doubled <= dx) {
            error += dx;
            y += stepY;
        }
    }
}

void OverlayDrag::clearOverlay(ImageControl *overlay, QSize size)
{
    if (!overlay)
        return;
    QImage blank(size, QImage::Format_BGR888);
    blank.fill(Qt::white);
    overlay->setPicture(blank);
}

bool OverlayDrag::eventFilter(QObject *watched, QEvent *event)
{
    // Compared by address only: the overlay still sends events while it is being destroyed,
    // when it is no longer an ImageControl.
    if (watched != m_watched)
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        imageFrontMouseDown(mouse->button(), mouse->position().toPoint());
        break;
    }
    case QEvent::MouseMove:
        imageFrontMouseMove(static_cast<QMouseEvent *>(event)->position().toPoint());
        break;
    case QEvent::MouseButtonRelease: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        imageFrontMouseUp(mouse->button(), mouse->position().toPoint());
        break;
    }
    default:
        break;
    }
    // The control still sees every event, for its own click and double-click signals.
    return false;
}
