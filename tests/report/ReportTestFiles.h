#pragma once

#include <QDir>
#include <QFileInfo>
#include <QString>

// The report template shipped with the program (data/1.fr3 of the source tree).
inline QString shippedTemplate()
{
    const QString source = qEnvironmentVariable("EXAMSTATION_SOURCE_DIR");
    if (!source.isEmpty())
        return source + QStringLiteral("/data/1.fr3");
    return QFileInfo(QStringLiteral(__FILE__)).dir().absoluteFilePath(QStringLiteral("../../data/1.fr3"));
}
