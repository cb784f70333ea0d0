#pragma once

#include <QString>

#include <atomic>
#include <functional>
#include <thread>

// The camera's hardware snapshot button, read as key events from an input event device (UVC
// cameras report it as KEY_CAMERA on an input device of the same USB device). A thread of its
// own waits on the device, so no window focus is needed; each press calls onPress on that
// thread. Destruction stops the thread and waits for it.
class StillButton {
public:
    // Takes ownership of `fd` (an evdev device, or a pipe carrying the same records).
    StillButton(int fd, std::function<void()> onPress);
    virtual ~StillButton();
    StillButton(const StillButton &) = delete;
    StillButton &operator=(const StillButton &) = delete;

    // The input event device of the UVC camera behind a /dev/videoN node: the event device
    // under the same USB device in sysfs. Empty when there is none.
    static QString findInputDevice(const QString &videoDevicePath, const QString &sysfsRoot = QStringLiteral("/sys"));

private:
    void run();

    int m_fd = -1;
    int m_wake[2] = {-1, -1};
    std::function<void()> m_onPress;
    std::thread m_thread;
};
