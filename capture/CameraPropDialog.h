#pragma once

#include "capture/CameraControl.h"

#include <QDialog>

#include <functional>

class QPushButton;

// The camera's settings dialog: one row per control (integers as sliders, booleans as check
// boxes, menus as drop-downs) showing the current value; every change acts on the camera at
// once (the controls' apply functions keep it, where the caller wants it kept). The defaults
// button (object name "btnCameraDefaults", caption `defaultsCaption`) sets every control to
// the camera's own default, then calls `onDefaults`. Window thread only.
class CameraPropDialog : public QDialog {
    Q_OBJECT

public:
    CameraPropDialog(const CameraControlList &controls, QWidget *parent = nullptr,
                     const QString &defaultsCaption = QString(), std::function<void()> onDefaults = {});

private:
    CameraControlList m_controls; // keeps the controls' device handles open while shown
    QList<std::function<void()>> m_resetters; // each sets its row to the control's default
};
