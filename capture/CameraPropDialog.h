#pragma once

#include "capture/CameraControl.h"

#include <QDialog>

// The camera's settings dialog: one row per control (integers as sliders, booleans as check
// boxes, menus as drop-downs) showing the current value; every change acts on the camera at
// once and nothing is stored. Window thread only.
class CameraPropDialog : public QDialog {
    Q_OBJECT

public:
    CameraPropDialog(const CameraControlList &controls, QWidget *parent = nullptr);

private:
    CameraControlList m_controls; // keeps the controls' device handles open while shown
};
