#pragma once

#include "capture/StillButton.h"

#include <QString>

#include <functional>
#include <memory>

// The snapshot trigger named in config.ini, section [trigger]: a foot switch (a USB keyboard to
// the system) or any key of any input device. `device` is the input device's name (as
// /sys/class/input/eventN/device/name gives it) or a path such as /dev/input/by-id/...;
// `key` a Linux key name (KEY_F9) or its code. Read like the camera's button, on a thread of
// its own, so it works whether or not the window has the focus. Window thread.
namespace FootSwitch {

// The reader of the configured trigger, calling onPress once per press (a held key's repeats
// take nothing). Null when no trigger is configured, or (logged in one line) when the device is
// missing or unreadable or the key unknown.
std::unique_ptr<StillButton> open(std::function<void()> onPress);

// The code of a key name (KEY_F9, BTN_0, ...) or of a decimal code; -1 when unknown.
int keyCode(const QString &nameOrCode);

// The event device of an input device's name or path; empty when there is none.
QString findDevice(const QString &nameOrPath, const QString &sysfsRoot = QStringLiteral("/sys"));

} // namespace FootSwitch
