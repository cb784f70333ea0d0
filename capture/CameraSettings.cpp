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
    rememberAll(camera, {{control, value}}, false);
}

void CameraSettings::rememberAll(const QString &camera, const QList<std::pair<QString, int>> &changes,
                                 bool forgetEarlier)
{
    QList<std::pair<QString, int>> values;
    if (!forgetEarlier)
        for (auto [control, value] : stored(camera).asKeyValueRange())
            values.append({control, value});
    for (const auto &change : changes) {
        const auto known =
            std::find_if(values.begin(), values.end(), [&](const auto &v) { return v.first == change.first; });
        if (known != values.end())
            known->second = change.second;
        else
            values.append(change);
    }
    QStringList lines;
    for (const auto &[control, value] : values)
        lines.append(control + u'=' + QString::number(value));
    try {
        m_file.replaceSection(camera, lines);
    } catch (const std::exception &failure) {
        qCWarning(lcCapture) << "the camera settings of" << camera << "are not kept:" << failure.what();
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
    QMap<QString, int> values = stored(camera);
    auto refused = [&](const QString &control, int value) {
        const QString key = camera + u'/' + control;
        if (!m_reported.contains(key)) {
            m_reported.insert(key);
            qCWarning(lcCapture) << "the camera" << camera << "does not take the stored" << control << "=" << value;
        }
    };
    CameraControlList ordered = controls;
    std::stable_partition(ordered.begin(), ordered.end(), [](const CameraControl &c) { return c.automatic; });
    for (const CameraControl &control : ordered) {
        const auto value = values.constFind(control.name);
        if (value == values.cend())
            continue;
        if (!control.apply || !control.apply(*value))
            refused(control.name, *value);
        values.erase(value);
    }
    for (auto [control, value] : values.asKeyValueRange())
        refused(control, value); // no longer offered
}
