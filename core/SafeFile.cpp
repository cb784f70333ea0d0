#include "core/SafeFile.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace SafeFile {
namespace {

bool failWith(int error, QString *reason)
{
    *reason = QString::fromLocal8Bit(std::strerror(error));
    return false;
}

} // namespace

void syncFolder(const QString &folder)
{
    const QByteArray name = QFile::encodeName(QFileInfo(folder).absoluteFilePath());
    const int fd = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

bool readFile(const QString &path, QByteArray *bytes, QString *reason)
{
    bytes->clear();
    QFile file(path);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        *reason = file.errorString();
        return false;
    }
    *bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        *reason = file.errorString();
        return false;
    }
    return true;
}

bool saveWhole(const QString &path, const QByteArray &bytes, QString *reason)
{
    // Written by hand on purpose: QSaveFile commits a file that a full disk cut short when the
    // short write happens in its final flush, which is the very failure this must survive.
    QString target = path;
    const QFileInfo info(path);
    if (info.isSymLink() && !info.canonicalFilePath().isEmpty())
        target = info.canonicalFilePath(); // change the file the link points at, keep the link
    if (QFileInfo(target).isDir())
        return failWith(EISDIR, reason);

    const QFileInfo targetInfo(target);
    const QByteArray targetName = QFile::encodeName(targetInfo.absoluteFilePath());
    QByteArray tempName;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        tempName = QFile::encodeName(
            targetInfo.absolutePath() + u'/' + targetInfo.fileName()
            + QStringLiteral(".tmp%1").arg(QRandomGenerator::global()->generate(), 8, 16, QChar(u'0')));
        // 0666 before the umask, as any new file; an existing file's mode is copied below.
        fd = ::open(tempName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return failWith(errno, reason);
    }
    if (fd < 0)
        return failWith(EEXIST, reason);

    auto abandon = [&](int error) {
        ::close(fd);
        ::unlink(tempName.constData());
        return failWith(error, reason);
    };
    struct stat old;
    if (::stat(targetName.constData(), &old) == 0)
        ::fchmod(fd, old.st_mode & 07777);

    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return abandon(errno);
        }
        data += written;
        left -= written;
    }
    if (::fsync(fd) != 0)
        return abandon(errno);
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(tempName.constData());
        return failWith(error, reason);
    }
    if (::rename(tempName.constData(), targetName.constData()) != 0) {
        const int error = errno;
        ::unlink(tempName.constData());
        return failWith(error, reason);
    }
    // The rename is only durable once the folder's entry is on disk too.
    syncFolder(QFileInfo(target).absolutePath());
    return true;
}

} // namespace SafeFile
