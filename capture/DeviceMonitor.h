#pragma once

#include "capture/GstHandles.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class BusWatch;
typedef struct _GstDeviceMonitor GstDeviceMonitor;

// Tells the window thread when a video input device comes or goes: V4L2 cameras through the
// GStreamer device monitor (its bus watched from the event loop), synthetic cameras through
// their presence (SyntheticCamera::setPresent). Devices are named by CaptureDevice::path().
// While the graph waits for a camera it tells when one is back. Window thread only.
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

    // Waits for a camera: cameraBack comes once one is listed after an arrival (given a moment
    // for its device node to appear), or, without a running monitor, at a look every second.
    void awaitCamera();
    void stopAwaiting();
    // The restart after cameraBack failed, or came too early: looks again in a second. Every
    // arrival is worth a few looks; then the monitor waits for the next one.
    void retry();

signals:
    void deviceAdded(const QString &path);
    void deviceRemoved(const QString &path);
    void cameraBack();

private:
    void onMessage(GstMessage *message);
    void look();
    void lookSoon(int delayMs); // one look per try left

    GstObjectHandle<GstDeviceMonitor> m_monitor;
    std::unique_ptr<BusWatch> m_watch;
    int m_syntheticWatch = 0;
    bool m_awaiting = false;
    int m_triesLeft = 0; // looks left since the last arrival
    QTimer m_look; // the next look
    QTimer m_poll; // without a running monitor only: a look every second
};
