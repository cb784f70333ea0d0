#pragma once

#include "capture/LivePicture.h"

#include <QWidget>

// The live picture control `Imagemovie`: paints the live picture 1:1 (stretched to its own
// size, which is 640 x 480 in the window) and reports the mouse as the window's reactions need
// it. Window thread only; the streaming thread reaches it only through LivePicture.
class LivePictureView : public QWidget {
    Q_OBJECT

public:
    explicit LivePictureView(QWidget *parent = nullptr);
    ~LivePictureView() override;

    LivePicture &picture() { return m_picture; }

    QSize sizeHint() const override { return {LivePicture::kWidth, LivePicture::kHeight}; }

signals:
    // A single click with the left button (released over the control); the release that ends
    // a double-click is not a click.
    void clicked();
    void doubleClicked();
    // Every button release over the control.
    void mouseReleased(Qt::MouseButton button, const QPoint &position);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void customEvent(QEvent *event) override;

private:
    LivePicture m_picture;
    bool m_leftPressed = false;
    bool m_inDoubleClick = false;
};
