#include "core/SafeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
    // A file built into the program (":/…") is ours: read as it is.
    if (path.startsWith(QLatin1String(":/"))) {
        QFile builtIn(path);
        if (!builtIn.open(QIODevice::ReadOnly))
            return true; // missing, as a file that does not exist
        *bytes = builtIn.readAll();
        return true;
    }
    const QByteArray name = QFile::encodeName(path);
    struct stat info;
    if (::stat(name.constData(), &info) != 0)
        return errno == ENOENT ? true : failWith(errno, reason);
    // Checked before opening, as opening a pipe waits for a writer and opening a device may
    // act on it; checked again on the open file in case the path was swapped meanwhile.
    auto refuse = [&](const struct stat &s) {
        if (S_ISDIR(s.st_mode))
            return failWith(EISDIR, reason);
        if (!S_ISREG(s.st_mode)) {
            *reason = QStringLiteral("Not a regular file");
            return false;
        }
        return failWith(EFBIG, reason);
    };
    auto acceptable = [](const struct stat &s) { return S_ISREG(s.st_mode) && s.st_size <= kMaxReadBytes; };
    if (!acceptable(info))
        return refuse(info);
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return failWith(errno, reason);
    if (::fstat(fd, &info) != 0 || !acceptable(info)) {
        const int error = errno;
        ::close(fd);
        return acceptable(info) ? failWith(error, reason) : refuse(info);
    }
    // One byte more than the bound is asked for, so a file that grew past it is seen.
    QByteArray data(qsizetype(info.st_size) + 1, Qt::Uninitialized);
    qsizetype filled = 0;
    for (;;) {
        if (filled == data.size()) {
            if (data.size() > kMaxReadBytes) {
                ::close(fd);
                return failWith(EFBIG, reason);
            }
            data.resize(std::min<qsizetype>(data.size() * 2, kMaxReadBytes + 1));
        }
        const ssize_t got = ::read(fd, data.data() + filled, size_t(data.size() - filled));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int error = errno;
            ::close(fd);
            return failWith(error, reason);
        }
        if (got == 0)
            break;
        filled += got;
    }
    ::close(fd);
    data.truncate(filled);
    *bytes = data;
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
    // The rename needs only the folder's permission; a file made read-only (or owned by another
    // user) must still not be replaced, so its own permission is asked first.
    if (::faccessat(AT_FDCWD, targetName.constData(), W_OK, AT_EACCESS) != 0 && errno != ENOENT)
        return failWith(errno, reason);
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

void removeLeftovers(const QString &path)
{
    const QFileInfo info(path);
    const QDir folder = info.absoluteDir();
    const QRegularExpression own(QRegularExpression::anchoredPattern(QRegularExpression::escape(info.fileName())
                                                                     + QStringLiteral("\\.tmp[0-9a-f]{8}")));
    const QStringList names =
        folder.entryList({info.fileName() + QStringLiteral(".tmp*")}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : names) {
        if (own.match(name).hasMatch())
            QFile::remove(folder.filePath(name));
    }
}

void removeLeftoversIn(const QString &folder)
{
    const QDir dir(folder);
    for (const QString &name : dir.entryList({QStringLiteral("*.tmp*")}, QDir::Files | QDir::Hidden | QDir::System)) {
        if (isLeftover(name))
            QFile::remove(dir.filePath(name));
    }
}

bool isLeftover(const QString &fileName)
{
    static const QRegularExpression form(QRegularExpression::anchoredPattern(QStringLiteral(".+\\.tmp[0-9a-f]{8}")));
    return form.match(fileName).hasMatch();
}

} // namespace SafeFile
