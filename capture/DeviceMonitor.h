#pragma once

#include "capture/GstHandles.h"

#include <QObject>
#include <QString>

#include <memory>

class QSocketNotifier;
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

signals:
    void deviceAdded(const QString &path);
    void deviceRemoved(const QString &path);

private:
    void drain();

    GstObjectHandle<GstDeviceMonitor> m_monitor;
    std::unique_ptr<QSocketNotifier> m_notifier;
    int m_syntheticWatch = 0;
};
