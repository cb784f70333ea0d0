#include "core/MessageLog.h"

#include <QDateTime>
#include <QFile>
#include <QMutex>

#include <cstdio>
#include <cstdlib>

namespace MessageLog {
namespace {
QMutex mutex;
QString logFile;
QtMessageHandler previous = nullptr;

const char *level(QtMsgType type)
{
    switch (type) {
    case QtWarningMsg:
        return "warning";
    case QtCriticalMsg:
        return "error";
    case QtFatalMsg:
        return "fatal";
    default:
        return "info";
    }
}

void rotate()
{
    const auto numbered = [](int n) { return logFile + u'.' + QString::number(n); };
    QFile::remove(numbered(kKept));
    for (int n = kKept - 1; n >= 1; --n)
        QFile::rename(numbered(n), numbered(n + 1));
    QFile::rename(logFile, numbered(1));
}

void append(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QByteArray line = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toUtf8()
        + ' ' + level(type) + ' ' + (context.category ? context.category : "default") + ": " + message.toUtf8() + '\n';
    const QMutexLocker locker(&mutex);
    if (logFile.isEmpty())
        return;
    QFile file(logFile);
    if (file.size() + line.size() > kLimit && file.size() > 0)
        rotate();
    // A log that cannot be written must not stop the program; standard error still has it.
    if (file.open(QIODevice::Append | QIODevice::WriteOnly))
        file.write(line);
}

void handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg || type == QtCriticalMsg || type == QtFatalMsg)
        append(type, context, message);
    if (previous) {
        previous(type, context, message);
    } else {
        std::fputs(qPrintable(qFormatLogMessage(type, context, message) + u'\n'), stderr);
        if (type == QtFatalMsg)
            std::abort();
    }
}
} // namespace

void install(const QString &folder)
{
    {
        const QMutexLocker locker(&mutex);
        logFile = folder + QStringLiteral("examstation.log");
    }
    const QtMessageHandler before = qInstallMessageHandler(handler);
    if (before != handler)
        previous = before;
}

void uninstall()
{
    qInstallMessageHandler(previous);
    const QMutexLocker locker(&mutex);
    logFile.clear();
}

} // namespace MessageLog
