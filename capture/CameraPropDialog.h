#pragma once

#include "capture/CameraControl.h"

#include <QDialog>

#include <functional>

class CameraSettings;
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

    // The settings button: shows the dialog for the controls of the camera `camera` in the
    // screen's top-left corner. Every change the camera took is kept for it in `settings` and
    // "defaults" forgets them, in one write of cameras.ini when the dialog closes.
    static void showFor(CameraControlList controls, CameraSettings &settings, const QString &camera, QWidget *owner,
                        const QString &defaultsCaption);

private:
    CameraControlList m_controls; // keeps the controls' device handles open while shown
    QList<std::function<void()>> m_resetters; // each sets its row to the control's default
};
