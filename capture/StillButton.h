#pragma once

#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <thread>

// The camera's hardware snapshot button, read as key events from an input event device (UVC
// cameras report it as KEY_CAMERA on an input device of the same USB device). A thread of its
// own waits on the device, so no window focus is needed; each press calls onPress on that
// thread. Destruction stops the thread and waits for it. The same reader serves the foot
// switch (FootSwitch), with its own key.
class StillButton {
public:
    // Takes ownership of `fd` (an evdev device, or a pipe carrying the same records). `keys`
    // are the key codes that count as a press; empty: the camera button's (KEY_CAMERA, BTN_0).
    StillButton(int fd, std::function<void()> onPress, QList<int> keys = {});
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
    QList<int> m_keys;
    std::thread m_thread;
};
