#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QSize>

#include <functional>

class ImageControl;
class QImage;

// The rubber band of a measuring overlay (the live overlay and the processing panel's): a left
// press starts a drag, moves redraw an inverted line from the start point, a left release ends
// it and hands start and end point to the overlay's own release rule. Window thread only.
class OverlayDrag : public QObject {
    Q_OBJECT

public:
    using MoveAllowed = std::function<bool()>;
    using ReleaseRule = std::function<void(QPoint start, QPoint end)>;

    // Watches the overlay's mouse events (presses of a double-click included).
    OverlayDrag(ImageControl *overlay, QObject *parent = nullptr);

    // Whether moves draw the rubber band; always, when none is given.
    void setMoveAllowed(MoveAllowed allowed) { m_moveAllowed = std::move(allowed); }
    void setReleaseRule(ReleaseRule rule) { m_releaseRule = std::move(rule); }

    // The overlay's reactions (imageFrontMouseDown, imageFrontMouseMove, imageFrontMouseUp).
    void imageFrontMouseDown(Qt::MouseButton button, QPoint position);
    void imageFrontMouseMove(QPoint position);
    void imageFrontMouseUp(Qt::MouseButton button, QPoint position);

    bool dragging() const { return m_dragging; }
    QPoint startPoint() const { return m_start; }
    QPoint lastPoint() const { return m_last; }
    QPoint endPoint() const { return m_end; }

    // Length of a drag in pixels.
    static double distance(QPoint start, QPoint end);
    // Inverts every pixel of the line (both ends included) that lies inside the picture, so
    // drawing the same line twice gives back what was there. The picture becomes 24-bit.
    static void invertLine(QImage &picture, QPoint from, QPoint to);
    // Fills the overlay with a new all-white 24-bit picture of that size: white then is the
    // transparent colour, so nothing of the overlay shows.
    static void clearOverlay(ImageControl *overlay, QSize size);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QPointer<ImageControl> m_overlay;
    const QObject *m_watched = nullptr;
    MoveAllowed m_moveAllowed;
    ReleaseRule m_releaseRule;
    QPoint m_start;
    QPoint m_last;
    QPoint m_end;
    bool m_dragging = false;
};
