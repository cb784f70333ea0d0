#pragma once

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>

// Mouse events sent straight to a control, so drags work on hidden test widgets too.
namespace MouseDrag {

inline void send(QWidget *control, QEvent::Type type, QPoint position, Qt::MouseButton button)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(Qt::LeftButton);
    QMouseEvent event(type, QPointF(position), control->mapToGlobal(QPointF(position)), button, held, Qt::NoModifier);
    QApplication::sendEvent(control, &event);
}

// Press at from, two moves, release at to, all with the left button.
inline void drag(QWidget *control, QPoint from, QPoint to)
{
    send(control, QEvent::MouseButtonPress, from, Qt::LeftButton);
    send(control, QEvent::MouseMove, (from + to) / 2, Qt::NoButton);
    send(control, QEvent::MouseMove, to, Qt::NoButton);
    send(control, QEvent::MouseButtonRelease, to, Qt::LeftButton);
}

inline bool allWhite(const QImage &image)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((image.pixel(x, y) & 0xffffffu) != 0xffffffu)
                return false;
    return true;
}

} // namespace MouseDrag
