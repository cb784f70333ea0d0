#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>

#include <cstdio>
#include <functional>

// A command-line job: runs instead of the window, with no display needed (from cron, over SSH),
// on the program folder main() has located. It returns the exit code: 0 when done; otherwise it
// has written one line to standard error (jobFailed). An AppError leaving run() becomes that
// line. Jobs are not blocked by a running window: they rely on the database's own locking.
struct CommandLineJob {
    // The first option starts the job; any others only qualify it (e.g. --with-video).
    QList<QCommandLineOption> options;
    // A job that paints (a PDF) runs under a QGuiApplication, on the offscreen platform when no
    // display is set; the others under a QCoreApplication.
    bool paints = false;
    std::function<int(const QCommandLineParser &parser)> run;
};

// Writes "examstation: <line>" to standard error and gives the exit code of a failed job.
inline int jobFailed(const QString &line)
{
    std::fprintf(stderr, "examstation: %s\n", qPrintable(line));
    return 1;
}

// One line of a job's report on standard output.
inline void jobSays(const QString &line)
{
    std::printf("%s\n", qPrintable(line));
}
