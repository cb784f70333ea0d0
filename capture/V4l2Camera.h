#pragma once

#include "capture/CaptureDevice.h"
#include "capture/GstHandles.h"

// A V4L2 camera as the GStreamer device monitor lists it. Window thread only.
class V4l2Camera : public CaptureDevice {
public:
    explicit V4l2Camera(GstDevice *device); // takes a new reference

    QString name() const override;
    QString path() const override { return m_path; }
    QString identity() const override { return identityOf(m_path, name()); }
    MediaTypeList mediaTypes() const override;
    GstElementHandle createSource(const MediaType &type) const override;
    std::unique_ptr<StillButton> openStillButton(std::function<void()> onPress) const override;
    // The driver's integer, boolean and menu controls, read and written through the device node.
    CameraControlList controls(GstElement *source) const override;

    // The monitor's video capture devices ("Video/Source", V4L2 only, so a camera also seen
    // through another device provider is listed once), ordered by device node. A running
    // monitor's list is what it already knows; without one a new monitor probes the devices.
    static CaptureDeviceList list(GstDeviceMonitor *running = nullptr);
    // The device node a monitor's device names ("/dev/video0"); empty when it names none.
    static QString pathOf(GstDevice *device);

    // The identity of the camera behind a /dev/videoN node, from sysfs: "usb:VID:PID:serial"
    // for a USB camera with a serial number, else "usb-port:PORT:model" (PORT as "1-1.2"),
    // else "v4l2:model".
    static QString identityOf(const QString &videoDevicePath, const QString &model,
                              const QString &sysfsRoot = QStringLiteral("/sys"));

private:
    GstDeviceHandle m_device;
    QString m_path;
};
