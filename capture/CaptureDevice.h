#pragma once

#include "capture/CameraControl.h"
#include "capture/GstHandles.h"
#include "capture/MediaType.h"

#include <QList>
#include <QString>

#include <gst/gst.h>

#include <functional>
#include <memory>

class StillButton;

// A video input device as the capture graph sees it: a V4L2 camera found by the device
// monitor, or a synthetic camera declared in the environment. The graph treats both alike.
// Window thread only.
class CaptureDevice {
public:
    virtual ~CaptureDevice() = default;

    virtual QString name() const = 0;
    // Stable enumeration key: the device node for V4L2 cameras.
    virtual QString path() const = 0;
    // Who the camera is, whichever port or node it has today: the key of its stored picture
    // settings (CameraSettings).
    virtual QString identity() const { return path(); }
    // The capture output's media types in the order the device lists them.
    virtual MediaTypeList mediaTypes() const = 0;
    // A new source element delivering `type`; null when it cannot be made.
    virtual GstElementHandle createSource(const MediaType &type) const = 0;
    // The still output: the snapshot button, read on a thread of its own that calls onPress
    // per press. Null when the camera has no button (or it cannot be opened).
    virtual std::unique_ptr<StillButton> openStillButton(std::function<void()> onPress) const = 0;
    // The settings the camera offers, acting on the running `source` made by createSource().
    virtual CameraControlList controls(GstElement *source) const = 0;
};

using CaptureDeviceList = QList<std::shared_ptr<CaptureDevice>>;

// The video input devices in a stable order. When EXAMSTATION_SYNTHETIC_CAMERA is set, only
// the synthetic cameras it declares (see SyntheticCamera.h); otherwise the V4L2 cameras.
CaptureDeviceList ListVideoInputDevices();
