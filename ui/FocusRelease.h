#pragma once

#include <QObject>

class QWidget;

// Takes the keyboard focus away from a field when the pointer moves over the background of
// the surrounding group box or panel, so a shown look-up list hides itself and the slider, the
// language box and the requesting-doctor box let go of the focus. Only the container's own
// background counts, never a child control. Window thread only.
class FocusRelease : public QObject {
    Q_OBJECT

public:
    struct Controls {
        QWidget *TntGroupBox1 = nullptr;
        QWidget *TntGroupBox3 = nullptr;
        QWidget *TntPanel2 = nullptr;
        QWidget *TntPanel3 = nullptr;
        QWidget *TntPanel7 = nullptr;
        QWidget *plMovieContainter = nullptr;
        QWidget *lstNumber = nullptr;
        QWidget *cbLang = nullptr;
        QWidget *cbProposer = nullptr;
        QWidget *TrackBar1 = nullptr;
    };

    // The controls of the window found by their object names.
    static Controls find(QWidget *window);

    // Turns on pointer tracking of the containers and watches them.
    explicit FocusRelease(const Controls &controls, QObject *parent = nullptr);

    // The pointer-move reactions; each acts under its condition.
    void TntGroupBox1MouseMove();
    void TntGroupBox3MouseMove();
    void TntPanel2MouseMove();
    void TntPanel3MouseMove();
    void TntPanel7MouseMove();
    void plMovieContainterMouseMove();
    // A click on the background of the right half.
    void TntPanel2Click();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void watch(QWidget *container);
    bool headerFieldHasFocus() const;
    static void takeFocus(QWidget *container);

    Controls m_controls;
};
