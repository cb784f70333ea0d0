#pragma once

#include <QImage>
#include <QPoint>
#include <QWidget>

// An image control of the window: shows one picture (which may be null) stretched to the
// control's size or at its natural size, optionally drawn transparently, and reports the mouse
// as click, double-click, press, release and move. Window thread only.
class ImageControl : public QWidget {
    Q_OBJECT

public:
    explicit ImageControl(QWidget *parent = nullptr);

    const QImage &picture() const { return m_picture; }
    void setPicture(const QImage &picture);
    // Write access for drawing on the picture in place; call update() when done.
    QImage &canvas();

    // Stretched (the default) fills the control, ignoring the aspect ratio; otherwise the
    // picture is drawn 1:1 from the top-left corner.
    bool stretch() const { return m_stretch; }
    void setStretch(bool stretch);

    // Transparent drawing: every pixel of the colour of the picture's bottom-left pixel lets
    // what lies beneath show through.
    bool transparent() const { return m_transparent; }
    void setTransparent(bool transparent);

    // The number the window gives the control (a picture slot's number, for instance).
    int tag() const { return m_tag; }
    void setTag(int tag) { m_tag = tag; }

signals:
    void clicked();
    void doubleClicked();
    void mousePressed(Qt::MouseButton button);
    void mouseReleased(Qt::MouseButton button);
    void mouseMoved(QPoint position);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    const QImage &drawable();

    QImage m_picture;
    bool m_stretch = true;
    bool m_transparent = false;
    int m_tag = 0;
    // A left press that may end in a click; cleared by the press of a double-click, whose
    // release is not a click of its own.
    bool m_leftPressed = false;
    // The transparent rendering of the picture, rebuilt when the picture changes.
    QImage m_masked;
    qint64 m_maskedKey = 0;
};
