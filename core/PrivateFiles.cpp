#include "core/PrivateFiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>

#include <sys/stat.h>

namespace PrivateFiles {
namespace {

// Sets the exact mode, keeping a folder's set-group-ID bit (new entries then take its group).
bool give(const QString &path, unsigned mode)
{
    struct stat info { };
    const QByteArray name = QFile::encodeName(path);
    if (::lstat(name.constData(), &info) != 0 || S_ISLNK(info.st_mode))
        return false;
    const unsigned wanted = mode | (S_ISDIR(info.st_mode) ? (info.st_mode & S_ISGID) : 0);
    if ((info.st_mode & 07777) == wanted)
        return false;
    return ::chmod(name.constData(), wanted) == 0;
}

} // namespace

Modes modesFor(const QString &programFolder)
{
    struct stat info { };
    const bool shared = ::stat(QFile::encodeName(programFolder).constData(), &info) == 0 && S_ISDIR(info.st_mode)
        && (info.st_mode & S_ISGID);
    return shared ? Modes{.folder = 0770, .file = 0660, .mask = 0007}
                  : Modes{.folder = 0700, .file = 0600, .mask = 0077};
}

void useModesOf(const QString &programFolder)
{
    ::umask(modesFor(programFolder).mask);
}

int tighten(const QString &programFolder)
{
    const Modes modes = modesFor(programFolder);
    const QDir folder(programFolder);
    int changed = give(folder.absolutePath(), modes.folder) ? 1 : 0;
    for (const QString &name :
         folder.entryList({QStringLiteral("*.ini"), QStringLiteral("*.log*"), QStringLiteral("*.lock")}, QDir::Files))
        changed += give(folder.filePath(name), modes.file) ? 1 : 0;
    for (const char *sub : {"data", "images", "video", "temp"}) {
        const QString top = folder.filePath(QLatin1String(sub));
        if (!QFileInfo(top).isDir())
            continue;
        changed += give(top, modes.folder) ? 1 : 0;
        QDirIterator entries(top, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                             QDirIterator::Subdirectories);
        while (entries.hasNext()) {
            const QString path = entries.next();
            const QFileInfo info = entries.fileInfo();
            if (info.isSymLink())
                continue;
            changed += give(path, info.isDir() ? modes.folder : modes.file) ? 1 : 0;
        }
    }
    return changed;
}

} // namespace PrivateFiles
