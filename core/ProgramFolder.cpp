#include "core/ProgramFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace ProgramFolder {
namespace {
QString &stored()
{
    static QString folder;
    return folder;
}

void copyMissing(const QString &from, const QString &to)
{
    if (QFile::exists(to) || !QFile::exists(from))
        return;
    QDir().mkpath(QFileInfo(to).absolutePath());
    QFile::copy(from, to);
    // The shipped files are read-only where installed; the clinic's copy must be editable.
    QFile(to).setPermissions(QFile::permissions(to) | QFileDevice::WriteOwner);
}
} // namespace

void set(const QString &folder)
{
    QString absolute = QDir(folder).absolutePath();
    if (!absolute.endsWith(u'/'))
        absolute += u'/';
    stored() = absolute;
}

QString path()
{
    if (stored().isEmpty())
        set(QCoreApplication::applicationDirPath());
    return stored();
}

QString file(const QString &relative)
{
    return path() + relative;
}

QString locate(const QString &home, const QString &executableFolder)
{
    if (!home.isEmpty())
        return home;
    if (QDir(executableFolder).exists(QStringLiteral("lang")))
        return executableFolder;
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/examstation");
}

void furnish(const QString &folder, const QString &executableFolder)
{
    const QDir share(executableFolder + QStringLiteral("/../share/examstation"));
    if (!share.exists())
        return;
    QDir().mkpath(folder);
    const QDir target(folder);
    const QDir lang(share.filePath(QStringLiteral("lang")));
    for (const QString &name : lang.entryList({QStringLiteral("*.ini")}, QDir::Files))
        copyMissing(lang.filePath(name), target.filePath(QStringLiteral("lang/") + name));
    copyMissing(share.filePath(QStringLiteral("data/1.fr3")), target.filePath(QStringLiteral("data/1.fr3")));
}

} // namespace ProgramFolder
