#pragma once

#include <QLabel>

// The logo image of the top bar: its picture is drawn stretched to the control, and a click
// on it is reported so the window can open the logo's link. Window thread only.
class LogoImage : public QLabel {
    Q_OBJECT

public:
    explicit LogoImage(QWidget *parent = nullptr);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    bool m_pressed = false;
};
