#include "capture/FootSwitch.h"

#include "capture/Logging.h"
#include "capture/Sysfs.h"
#include "core/inifunc.h"

#include <QFile>

#include <fcntl.h>
#include <linux/input.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

struct KeyName {
    const char *name;
    int code;
};

// Generated at build time from linux/input-event-codes.h.
constexpr KeyName kKeyNames[] = {
#include "KeyNames.inc"
};

} // namespace

int FootSwitch::keyCode(const QString &nameOrCode)
{
    const QString text = nameOrCode.trimmed();
    bool isNumber = false;
    const int code = text.toInt(&isNumber);
    if (isNumber)
        return code >= 0 && code <= KEY_MAX ? code : -1;
    const QByteArray name = text.toUpper().toLatin1();
    for (const KeyName &key : kKeyNames)
        if (name == key.name)
            return key.code;
    return -1;
}

QString FootSwitch::findDevice(const QString &nameOrPath, const QString &sysfsRoot)
{
    if (nameOrPath.startsWith(u'/'))
        return QFile::exists(nameOrPath) ? nameOrPath : QString();
    for (const Sysfs::InputEvent &event : Sysfs::inputEvents(sysfsRoot))
        if (!event.device.isEmpty() && Sysfs::attribute(event.device, QStringLiteral("name")) == nameOrPath.trimmed())
            return QStringLiteral("/dev/input/") + event.name;
    return {};
}

std::unique_ptr<StillButton> FootSwitch::open(std::function<void()> onPress)
{
    const QString device = ReadConfigString(QStringLiteral("trigger"), QStringLiteral("device"), QString()).trimmed();
    if (device.isEmpty())
        return nullptr;
    const QString keyText = ReadConfigString(QStringLiteral("trigger"), QStringLiteral("key"), QString());
    const int key = keyCode(keyText);
    if (key < 0) {
        qCWarning(lcCapture) << "trigger: the key" << keyText << "is not a Linux key name or code; no foot switch";
        return nullptr;
    }
    const QString path = findDevice(device);
    if (path.isEmpty()) {
        qCWarning(lcCapture) << "trigger: no input device" << device << "; no foot switch";
        return nullptr;
    }
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        qCWarning(lcCapture) << "trigger:" << path << "cannot be read (" << std::strerror(errno)
                             << "); see the udev rule in the README; no foot switch";
        return nullptr;
    }
    return std::make_unique<StillButton>(fd, std::move(onPress), QList<int>{key});
}
