#include "capture/DeviceMonitor.h"

#include "capture/BusWatch.h"
#include "capture/Logging.h"
#include "capture/SyntheticCamera.h"
#include "capture/V4l2Camera.h"

#include <QPointer>

namespace {
// How long after an arrival the camera is looked for (its device node follows the monitor's
// news), how long between looks, and how many looks one arrival is worth.
constexpr int kSettleMs = 150;
constexpr int kRetryMs = 1000;
constexpr int kTries = 5;
} // namespace

DeviceMonitor::DeviceMonitor(QObject *parent)
    : QObject(parent)
{
    // setPresent runs on any thread; the news reaches this object's thread queued.
    QPointer<DeviceMonitor> self(this);
    m_syntheticWatch = SyntheticCamera::watchPresence([self](const QString &path, bool present) {
        QMetaObject::invokeMethod(
            self.data(),
            [self, path, present] {
                if (!self)
                    return;
                if (present)
                    emit self->deviceAdded(path);
                else
                    emit self->deviceRemoved(path);
            },
            Qt::QueuedConnection);
    });
    m_poll.setInterval(kRetryMs);
    connect(&m_poll, &QTimer::timeout, this, &DeviceMonitor::look);
    m_look.setSingleShot(true);
    connect(&m_look, &QTimer::timeout, this, &DeviceMonitor::look);
    connect(this, &DeviceMonitor::deviceAdded, this, [this] {
        m_triesLeft = kTries;
        if (m_awaiting) {
            m_look.stop();
            lookSoon(kSettleMs);
        }
    });
}

DeviceMonitor::~DeviceMonitor()
{
    SyntheticCamera::unwatchPresence(m_syntheticWatch);
    m_watch.reset();
    if (m_monitor)
        gst_device_monitor_stop(m_monitor.get());
}

void DeviceMonitor::start()
{
    if (m_monitor || SyntheticCamera::declared())
        return;
    m_monitor.reset(gst_device_monitor_new());
    gst_device_monitor_add_filter(m_monitor.get(), "Video/Source", nullptr);
    if (!gst_device_monitor_start(m_monitor.get())) {
        qCWarning(lcCapture) << "the device monitor did not start; a camera plugged back in is found by polling";
        m_monitor.reset();
        return;
    }
    GstBusHandle bus(gst_device_monitor_get_bus(m_monitor.get()));
    m_watch = std::make_unique<BusWatch>(bus.get(), [this](GstMessage *message) { onMessage(message); });
}

bool DeviceMonitor::watching() const
{
    return m_monitor || SyntheticCamera::declared();
}

bool DeviceMonitor::cameraPresent() const
{
    if (SyntheticCamera::declared() || !m_monitor)
        return !ListVideoInputDevices().isEmpty();
    return !V4l2Camera::list(m_monitor.get()).isEmpty();
}

void DeviceMonitor::onMessage(GstMessage *message)
{
    const GstMessageType type = GST_MESSAGE_TYPE(message);
    if (type != GST_MESSAGE_DEVICE_ADDED && type != GST_MESSAGE_DEVICE_REMOVED)
        return;
    GstDevice *raw = nullptr;
    if (type == GST_MESSAGE_DEVICE_ADDED)
        gst_message_parse_device_added(message, &raw);
    else
        gst_message_parse_device_removed(message, &raw);
    GstDeviceHandle device(raw);
    const QString path = device ? V4l2Camera::pathOf(device.get()) : QString();
    if (path.isEmpty())
        return;
    if (type == GST_MESSAGE_DEVICE_ADDED)
        emit deviceAdded(path);
    else
        emit deviceRemoved(path);
}

void DeviceMonitor::awaitCamera()
{
    m_awaiting = true;
    if (!watching())
        m_poll.start();
    // A camera that came back before its loss was noticed is found by a first look.
    lookSoon(kRetryMs);
}

void DeviceMonitor::stopAwaiting()
{
    m_awaiting = false;
    m_poll.stop();
    m_look.stop();
}

void DeviceMonitor::retry()
{
    if (m_awaiting)
        lookSoon(kRetryMs);
}

void DeviceMonitor::lookSoon(int delayMs)
{
    if (!m_look.isActive() && m_triesLeft-- > 0)
        m_look.start(delayMs);
}

void DeviceMonitor::look()
{
    if (!m_awaiting)
        return;
    if (cameraPresent())
        emit cameraBack();
    else
        retry();
}
