#include "capture/V4l2Camera.h"

#include "capture/StillButton.h"
#include "capture/SyntheticCamera.h"
#include "capture/Sysfs.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace {

QString propertyString(GstDevice *device, const char *key)
{
    GstStructureHandle properties(gst_device_get_properties(device));
    const char *text = properties ? gst_structure_get_string(properties.get(), key) : nullptr;
    return text ? QString::fromUtf8(text) : QString();
}

int xioctl(int fd, unsigned long request, void *argument)
{
    int result;
    do {
        result = ::ioctl(fd, request, argument);
    } while (result < 0 && errno == EINTR);
    return result;
}

} // namespace

CaptureDeviceList ListVideoInputDevices()
{
    CaptureDeviceList devices;
    if (const auto synthetic = SyntheticCamera::declared()) {
        for (const SyntheticCamera::Declaration &declaration : *synthetic)
            if (SyntheticCamera::isPresent(declaration.name))
                devices.append(std::make_shared<SyntheticCamera>(declaration));
        return devices;
    }
    return V4l2Camera::list();
}

V4l2Camera::V4l2Camera(GstDevice *device)
    : m_device(gstRef(device))
    , m_path(pathOf(device))
{
}

QString V4l2Camera::pathOf(GstDevice *device)
{
    const QString path = propertyString(device, "api.v4l2.path");
    return path.isEmpty() ? propertyString(device, "device.path") : path;
}

CaptureDeviceList V4l2Camera::list(GstDeviceMonitor *running)
{
    CaptureDeviceList devices;
    GstObjectHandle<GstDeviceMonitor> probe;
    if (!running) {
        probe.reset(gst_device_monitor_new());
        gst_device_monitor_add_filter(probe.get(), "Video/Source", nullptr);
    }
    std::unique_ptr<GList, gsthandle::DeviceListFree> found(
        gst_device_monitor_get_devices(running ? running : probe.get()));
    for (GList *item = found.get(); item; item = item->next) {
        GstDevice *device = GST_DEVICE(item->data);
        if (propertyString(device, "device.api") != QLatin1String("v4l2"))
            continue;
        auto camera = std::make_shared<V4l2Camera>(device);
        if (!camera->path().isEmpty())
            devices.append(camera);
    }
    // The monitor's order follows its providers; the device node order is the stable one.
    std::stable_sort(devices.begin(), devices.end(), [](const auto &a, const auto &b) {
        const QString pa = a->path(), pb = b->path();
        return pa.size() != pb.size() ? pa.size() < pb.size() : pa < pb; // video2 before video10
    });
    return devices;
}

QString V4l2Camera::identityOf(const QString &videoDevicePath, const QString &model, const QString &sysfsRoot)
{
    const QString usbDevice = Sysfs::usbDeviceOf(videoDevicePath, sysfsRoot);
    auto attribute = [&](const char *name) { return Sysfs::attribute(usbDevice, QLatin1String(name)); };
    const QString vendor = usbDevice.isEmpty() ? QString() : attribute("idVendor");
    if (vendor.isEmpty())
        return QStringLiteral("v4l2:") + model;
    const QString serial = attribute("serial");
    if (!serial.isEmpty())
        return QStringLiteral("usb:%1:%2:%3").arg(vendor, attribute("idProduct"), serial);
    return QStringLiteral("usb-port:%1:%2").arg(QFileInfo(usbDevice).fileName(), model);
}

QString V4l2Camera::name() const
{
    GCharHandle name(gst_device_get_display_name(m_device.get()));
    return QString::fromUtf8(name.get());
}

MediaTypeList V4l2Camera::mediaTypes() const
{
    GstCapsHandle caps(gst_device_get_caps(m_device.get()));
    return mediaTypesOf(caps.get());
}

GstElementHandle V4l2Camera::createSource(const MediaType &) const
{
    // The graph puts the chosen type in a caps filter behind the source; v4l2src negotiates it.
    return gstSink(gst_device_create_element(m_device.get(), nullptr));
}

std::unique_ptr<StillButton> V4l2Camera::openStillButton(std::function<void()> onPress) const
{
    const QString input = StillButton::findInputDevice(m_path);
    if (input.isEmpty())
        return nullptr;
    const int fd = ::open(QFile::encodeName(input).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr; // no read access to the input device: the camera works without its button
    return std::make_unique<StillButton>(fd, std::move(onPress));
}

CameraControlList V4l2Camera::controls(GstElement *) const
{
    CameraControlList controls;
    const int opened = ::open(QFile::encodeName(m_path).constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (opened < 0)
        return controls;
    // Shared by the controls' apply functions; closed when the last control is gone.
    std::shared_ptr<int> fd(new int(opened), [](int *p) {
        ::close(*p);
        delete p;
    });

    v4l2_queryctrl query{};
    query.id = V4L2_CTRL_FLAG_NEXT_CTRL;
    while (xioctl(*fd, VIDIOC_QUERYCTRL, &query) == 0) {
        const __u32 id = query.id;
        query.id |= V4L2_CTRL_FLAG_NEXT_CTRL;
        if (query.flags & (V4L2_CTRL_FLAG_DISABLED | V4L2_CTRL_FLAG_READ_ONLY))
            continue;
        CameraControl control;
        control.name = QString::fromUtf8(reinterpret_cast<const char *>(query.name),
                                         int(strnlen(reinterpret_cast<const char *>(query.name), sizeof query.name)));
        control.minimum = query.minimum;
        control.maximum = query.maximum;
        control.step = std::max(1, query.step);
        control.defaultValue = query.default_value;
        // Drivers mark the switches that govern other controls (UVC: every "..., Auto") as
        // updating them; the usual ones are known by their IDs too.
        control.automatic = (query.flags & V4L2_CTRL_FLAG_UPDATE) || id == V4L2_CID_AUTO_WHITE_BALANCE
            || id == V4L2_CID_EXPOSURE_AUTO || id == V4L2_CID_FOCUS_AUTO || id == V4L2_CID_AUTOGAIN
            || id == V4L2_CID_HUE_AUTO || id == V4L2_CID_AUTOBRIGHTNESS;
        switch (query.type) {
        case V4L2_CTRL_TYPE_INTEGER:
            control.kind = CameraControl::Kind::Integer;
            break;
        case V4L2_CTRL_TYPE_BOOLEAN:
            control.kind = CameraControl::Kind::Boolean;
            break;
        case V4L2_CTRL_TYPE_MENU:
        case V4L2_CTRL_TYPE_INTEGER_MENU:
            control.kind = CameraControl::Kind::Menu;
            for (int index = query.minimum; index <= query.maximum; ++index) {
                v4l2_querymenu item{};
                item.id = id;
                item.index = __u32(index);
                if (xioctl(*fd, VIDIOC_QUERYMENU, &item) != 0)
                    continue;
                control.menuItems.append(query.type == V4L2_CTRL_TYPE_MENU
                                             ? QString::fromUtf8(reinterpret_cast<const char *>(item.name))
                                             : QString::number(item.value));
                control.menuValues.append(index);
            }
            break;
        default:
            continue; // buttons, strings, compound controls: not offered
        }
        v4l2_control current{};
        current.id = id;
        if (xioctl(*fd, VIDIOC_G_CTRL, &current) != 0)
            continue;
        control.value = current.value;
        control.apply = [fd, id](int value) {
            v4l2_control change{};
            change.id = id;
            change.value = value;
            return xioctl(*fd, VIDIOC_S_CTRL, &change) == 0;
        };
        controls.append(control);
    }
    return controls;
}
