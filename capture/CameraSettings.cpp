#include "capture/CameraSettings.h"

#include "capture/Logging.h"

#include <algorithm>
#include <exception>

CameraSettings::CameraSettings(const QString &path)
{
    m_file.setPath(path);
}

void CameraSettings::remember(const QString &camera, const QString &control, int value)
{
    try {
        m_file.writeString(camera, control, QString::number(value));
    } catch (const std::exception &failure) {
        qCWarning(lcCapture) << "the camera setting" << control << "is not kept:" << failure.what();
    }
}

void CameraSettings::forget(const QString &camera)
{
    try {
        m_file.eraseSection(camera);
    } catch (const std::exception &failure) {
        qCWarning(lcCapture) << "the camera settings of" << camera << "are not forgotten:" << failure.what();
    }
}

QMap<QString, int> CameraSettings::stored(const QString &camera)
{
    QMap<QString, int> values;
    for (const QString &line : m_file.readSection(camera)) {
        const qsizetype equals = line.lastIndexOf(u'=');
        bool ok = false;
        const int value = equals > 0 ? line.mid(equals + 1).trimmed().toInt(&ok) : 0;
        if (ok)
            values.insert(line.left(equals), value);
    }
    return values;
}

void CameraSettings::applyTo(const QString &camera, const CameraControlList &controls)
{
    const QMap<QString, int> values = stored(camera);
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        const auto control = std::find_if(controls.cbegin(), controls.cend(),
                                          [&](const CameraControl &c) { return c.name == it.key(); });
        const bool accepted = control != controls.cend() && control->apply && control->apply(it.value());
        const QString key = camera + u'/' + it.key();
        if (!accepted && !m_reported.contains(key)) {
            m_reported.insert(key);
            qCWarning(lcCapture) << "the camera" << camera << "does not take the stored" << it.key() << "="
                                 << it.value();
        }
    }
}
