#include "capture/DeviceMonitor.h"

#include "capture/Logging.h"
#include "capture/SyntheticCamera.h"

#include <QPointer>
#include <QSocketNotifier>

namespace {

QString devicePath(GstDevice *device)
{
    GstStructure *properties = gst_device_get_properties(device);
    if (!properties)
        return {};
    const char *path = gst_structure_get_string(properties, "api.v4l2.path");
    if (!path)
        path = gst_structure_get_string(properties, "device.path");
    const QString result = QString::fromUtf8(path);
    gst_structure_free(properties);
    return result;
}

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
}

DeviceMonitor::~DeviceMonitor()
{
    SyntheticCamera::unwatchPresence(m_syntheticWatch);
    m_notifier.reset();
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
    GPollFD poll{};
    gst_bus_get_pollfd(bus.get(), &poll);
    m_notifier = std::make_unique<QSocketNotifier>(poll.fd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &DeviceMonitor::drain);
}

void DeviceMonitor::drain()
{
    GstBusHandle bus(gst_device_monitor_get_bus(m_monitor.get()));
    while (GstMessageHandle message{gst_bus_pop(bus.get())}) {
        const GstMessageType type = GST_MESSAGE_TYPE(message.get());
        if (type != GST_MESSAGE_DEVICE_ADDED && type != GST_MESSAGE_DEVICE_REMOVED)
            continue;
        GstDevice *raw = nullptr;
        if (type == GST_MESSAGE_DEVICE_ADDED)
            gst_message_parse_device_added(message.get(), &raw);
        else
            gst_message_parse_device_removed(message.get(), &raw);
        GstDeviceHandle device(raw);
        const QString path = device ? devicePath(device.get()) : QString();
        if (path.isEmpty())
            continue;
        if (type == GST_MESSAGE_DEVICE_ADDED)
            emit deviceAdded(path);
        else
            emit deviceRemoved(path);
    }
}
