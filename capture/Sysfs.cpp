#include "capture/Sysfs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

QString Sysfs::usbDeviceOf(const QString &videoDevicePath, const QString &sysfsRoot)
{
    // .../usb1/1-1/1-1:1.0 is the video interface; its parent the USB device.
    const QString interfacePath = QFileInfo(sysfsRoot + QStringLiteral("/class/video4linux/")
                                            + QFileInfo(videoDevicePath).fileName() + QStringLiteral("/device"))
                                      .canonicalFilePath();
    return interfacePath.isEmpty() ? QString() : QFileInfo(interfacePath).path();
}

QList<Sysfs::InputEvent> Sysfs::inputEvents(const QString &sysfsRoot)
{
    const QDir inputs(sysfsRoot + QStringLiteral("/class/input"));
    QList<InputEvent> events;
    for (const QString &name :
         inputs.entryList({QStringLiteral("event*")}, QDir::Dirs | QDir::System | QDir::NoDotAndDotDot, QDir::Name))
        events.append(
            {.name = name, .device = QFileInfo(inputs.filePath(name) + QStringLiteral("/device")).canonicalFilePath()});
    return events;
}

QString Sysfs::attribute(const QString &folder, const QString &name)
{
    QFile file(folder + u'/' + name);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString();
}
