#pragma once

#include "capture/CaptureDevice.h"

#include <optional>

// Synthetic cameras: stand-ins for real ones on machines without a camera (tests, benchmarks,
// the demo). They go through the same graph as a V4L2 camera; only the source element differs
// (videotestsrc, with jpegenc behind it for MJPG types). Declared in the environment:
//
//   EXAMSTATION_SYNTHETIC_CAMERA = count | camera { ";" camera }
//   count  = N default cameras ("0": none at all, "1": the usual demo camera)
//   camera = [ name ":" ] type { "," type } { "/" option }
//   type   = [ encoding " " ] width "x" height     encoding YUY2 (default), MJPG, BGR, RGB, I420, NV12, GRAY8
//   option = "still"             the camera has a snapshot button (press it with pressStillButton)
//          | "pattern=" nick     videotestsrc pattern (default "smpte"; "colors" gives every pixel
//                                its own colour, for tests that follow pixels)
//          | "speed=" n          horizontal scroll in pixels per frame (default 2: a moving picture)
//          | "fps=" n            frames per second (default 30)
//
// e.g. "Left:YUY2 640x480,MJPG 640x480,YUY2 1280x720/still;Right:800x600/pattern=colors/speed=0".
// Unplugging: setPresent(name, false) pulls a synthetic camera's cable. Its running source then
// fails with the read error a V4L2 camera gives when it is pulled out, it leaves the device list
// and the device monitor (DeviceMonitor) reports it removed; setPresent(name, true) plugs it
// back in: it is listed again and the monitor reports it added. Tests and benchmarks use it.
//
// A default camera offers YUY2 640x480, MJPG 640x480, YUY2 1280x720, MJPG 1280x720, YUY2 320x240
// and YUY2 1600x1200, and has a snapshot button. Unnamed cameras are "Synthetic Camera N" (N from 1).
class SyntheticCamera : public CaptureDevice {
public:
    struct Declaration {
        QString name;
        QList<MediaType> types;
        bool stillButton = false;
        QString pattern = QStringLiteral("smpte");
        int speed = 2;
        int fps = 30;
    };

    static constexpr const char *kVariable = "EXAMSTATION_SYNTHETIC_CAMERA";

    explicit SyntheticCamera(Declaration declaration);

    // Null when the variable is unset; an empty list for "0". Parts that cannot be read are
    // skipped with a warning, so a typo shows as a missing type, not as a dead program.
    static std::optional<QList<Declaration>> declared();
    static QList<Declaration> parse(const QString &value);

    // Pulls out (false) or plugs back in (true) the named camera; any thread. Cameras are
    // present until pulled out; resetPresence() plugs every camera back in.
    static void setPresent(const QString &cameraName, bool present);
    static bool isPresent(const QString &cameraName);
    static void resetPresence();
    // Called with the camera's path() and its new presence on the thread of setPresent. The
    // returned id ends the watch through unwatchPresence.
    static int watchPresence(std::function<void(const QString &path, bool present)> watcher);
    static void unwatchPresence(int id);

    // Presses the snapshot button of the named camera while the graph holds it open.
    // Returns false when no graph has that camera's button open. Any thread.
    static bool pressStillButton(const QString &cameraName);

    QString name() const override { return m_declaration.name; }
    QString path() const override { return QStringLiteral("synthetic:") + m_declaration.name; }
    MediaTypeList mediaTypes() const override { return m_declaration.types; }
    GstElementHandle createSource(const MediaType &type) const override;
    std::unique_ptr<StillButton> openStillButton(std::function<void()> onPress) const override;
    CameraControlList controls(GstElement *source) const override;

private:
    Declaration m_declaration;
};
