#pragma once

#include "capture/GstHandles.h"

#include <QObject>
#include <QString>

#include <memory>

class BusWatch;
typedef struct _GstDeviceMonitor GstDeviceMonitor;

// Tells the window thread when a video input device comes or goes: V4L2 cameras through the
// GStreamer device monitor (its bus watched from the event loop), synthetic cameras through
// their presence (SyntheticCamera::setPresent). Devices are named by CaptureDevice::path().
// Window thread only.
class DeviceMonitor : public QObject {
    Q_OBJECT

public:
    explicit DeviceMonitor(QObject *parent = nullptr);
    ~DeviceMonitor() override;

    // Starts watching the V4L2 cameras (once; synthetic cameras are always watched). Does
    // nothing while synthetic cameras are declared.
    void start();
    // Whether arrivals are reported: always for synthetic cameras, for V4L2 once started.
    bool watching() const;
    // Whether any camera is there, as the running monitor knows it (no new probe); without a
    // running monitor the devices are listed afresh.
    bool cameraPresent() const;

signals:
    void deviceAdded(const QString &path);
    void deviceRemoved(const QString &path);

private:
    void onMessage(GstMessage *message);

    GstObjectHandle<GstDeviceMonitor> m_monitor;
    std::unique_ptr<BusWatch> m_watch;
    int m_syntheticWatch = 0;
};
