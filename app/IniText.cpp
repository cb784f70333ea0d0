#include "app/IniText.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStringDecoder>
#include <QStringEncoder>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace IniText {
namespace {

const QByteArray kUtf8Bom("\xEF\xBB\xBF", 3);
const QByteArray kUtf16LeBom("\xFF\xFE", 2);
const QByteArray kUtf16BeBom("\xFE\xFF", 2);

bool isBlank(QChar c)
{
    return c.unicode() <= 32;
}

QString decodeWith(QStringDecoder decoder, QByteArrayView bytes)
{
    return decoder.decode(bytes);
}

bool failWith(int error, QString *reason)
{
    *reason = QString::fromLocal8Bit(std::strerror(error));
    return false;
}

// The rename is only durable once the folder's entry is on disk too.
void syncFolder(const QString &path)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

Decoded decode(const QByteArray &bytes)
{
    if (bytes.startsWith(kUtf16LeBom))
        return {decodeWith(QStringDecoder(QStringDecoder::Utf16LE), QByteArrayView(bytes).sliced(2)),
                Encoding::Utf16Le};
    if (bytes.startsWith(kUtf16BeBom))
        return {decodeWith(QStringDecoder(QStringDecoder::Utf16BE), QByteArrayView(bytes).sliced(2)),
                Encoding::Utf16Be};
    if (bytes.startsWith(kUtf8Bom))
        return {decodeWith(QStringDecoder(QStringDecoder::Utf8), QByteArrayView(bytes).sliced(3)),
                Encoding::Utf8Bom};

    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return {text, Encoding::Utf8};

    QStringDecoder gb18030("GB18030");
    if (gb18030.isValid())
        return {gb18030.decode(bytes), Encoding::Gb18030};
    // Without a GB18030 codec the text is still shown, with replacement characters.
    return {text, Encoding::Utf8};
}

QByteArray encode(const QString &text, Encoding encoding)
{
    switch (encoding) {
    case Encoding::Utf8:
        return text.toUtf8();
    case Encoding::Utf8Bom:
        return kUtf8Bom + text.toUtf8();
    case Encoding::Utf16Le: {
        QStringEncoder encoder(QStringEncoder::Utf16LE);
        return kUtf16LeBom + QByteArray(encoder.encode(text));
    }
    case Encoding::Utf16Be: {
        QStringEncoder encoder(QStringEncoder::Utf16BE);
        return kUtf16BeBom + QByteArray(encoder.encode(text));
    }
    case Encoding::Gb18030: {
        QStringEncoder encoder("GB18030");
        if (encoder.isValid())
            return encoder.encode(text);
        return text.toUtf8();
    }
    }
    return text.toUtf8();
}

QString trimmed(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text.at(begin)))
        ++begin;
    while (end > begin && isBlank(text.at(end - 1)))
        --end;
    if (begin == 0 && end == text.size())
        return text;
    return text.mid(begin, end - begin);
}

QString singleLine(const QString &text)
{
    if (!text.contains(u'\r') && !text.contains(u'\n'))
        return text;
    QString result = text;
    result.replace(u'\r', u' ');
    result.replace(u'\n', u' ');
    return result;
}

QList<Line> splitLines(const QString &text)
{
    QList<Line> lines;
    qsizetype start = 0;
    const qsizetype size = text.size();
    qsizetype i = 0;
    while (i < size) {
        const QChar c = text.at(i);
        if (c == u'\r' || c == u'\n') {
            const qsizetype endLength = (c == u'\r' && i + 1 < size && text.at(i + 1) == u'\n') ? 2 : 1;
            lines.append({text.mid(start, i - start), text.mid(i, endLength)});
            i += endLength;
            start = i;
        } else {
            ++i;
        }
    }
    if (start < size)
        lines.append({text.mid(start), QString()});
    return lines;
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
        tempName = QFile::encodeName(targetInfo.absolutePath() + u'/' + targetInfo.fileName()
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
    syncFolder(target);
    return true;
}

} // namespace IniText
