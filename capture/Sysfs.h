#pragma once

#include <QString>
#include <QStringList>

// What sysfs tells about the devices behind a camera or an input device: the USB device a
// /dev/videoN node belongs to and the input event devices. `sysfsRoot` is "/sys" but for tests.
// Any thread (reads files only).
namespace Sysfs {

// The USB device folder (".../usb1/1-1") of the camera behind a /dev/videoN node, resolved; empty
// when the node is no USB camera's.
QString usbDeviceOf(const QString &videoDevicePath, const QString &sysfsRoot);

// The input event devices ("event0", "event1", ...) in name order, each with its device folder
// resolved (empty when it has none).
struct InputEvent {
    QString name;
    QString device;
};
QList<InputEvent> inputEvents(const QString &sysfsRoot);

// One attribute file of a sysfs folder, trimmed; empty when it cannot be read.
QString attribute(const QString &folder, const QString &name);

} // namespace Sysfs
