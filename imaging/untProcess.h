#pragma once

#include <QWidget>

class ImageControl;
class QFrame;
class QPushButton;

// The image processing panel: one slot picture at full size with its overlay and the row of
// tool buttons. A child panel of the main window, created once at start-up. Window thread only.
class TfrmProcess : public QWidget {
    Q_OBJECT

public:
    explicit TfrmProcess(QWidget *parent = nullptr);

    // Start state: both layers at (1, 1), 640 x 480; the overlay blank and transparent.
    void resetLayers();

    QFrame *plProcess = nullptr;
    ImageControl *imgBack = nullptr;
    ImageControl *imageFront = nullptr;
    QPushButton *btnGray = nullptr;
    QPushButton *btnTurnLeft = nullptr;
    QPushButton *btnTurnRight = nullptr;
    QPushButton *btnMline = nullptr;
    QPushButton *btnSave = nullptr;
    QPushButton *btnBack = nullptr;
};
