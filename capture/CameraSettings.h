#pragma once

#include "capture/CameraControl.h"
#include "core/IniFile.h"

#include <QMap>
#include <QSet>
#include <QString>

#include <utility>

// The picture settings the operator chose for each camera (brightness, white balance, ...),
// kept in cameras.ini beside config.ini: one section per camera identity
// (CaptureDevice::identity()), one "control name=value" line per setting changed. They are
// applied again whenever the camera starts. Window thread only.
class CameraSettings {
public:
    explicit CameraSettings(const QString &path);

    // Stores one value; a file that cannot be written is logged, the camera keeps the value.
    void remember(const QString &camera, const QString &control, int value);
    // Stores the changes of one settings dialog in one write of the file: `changes` in the order
    // made (a later value of a control replaces its earlier one), after forgetting the earlier
    // values when `forgetEarlier` (the dialog's "defaults" was pressed).
    void rememberAll(const QString &camera, const QList<std::pair<QString, int>> &changes, bool forgetEarlier);
    // Forgets every stored value of the camera (the settings dialog's "defaults").
    void forget(const QString &camera);
    QMap<QString, int> stored(const QString &camera);

    // Sets the stored values on the camera's controls in the driver's order, automatic switches
    // first (a manual white balance or exposure is refused while its switch is on). A control
    // the camera refuses, or no longer offers, is skipped and logged once per camera and
    // control, never shown in a box.
    void applyTo(const QString &camera, const CameraControlList &controls);

private:
    IniFile m_file;
    QSet<QString> m_reported; // "camera/control" already logged
};
