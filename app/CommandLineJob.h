#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>

#include <cstdio>
#include <functional>

// A command-line job: runs instead of the window, with no display needed (from cron, over SSH),
// on the program folder main() has located. It returns one of the exit codes below: kDone, or
// another after one line on standard error (jobFailed). An AppError leaving run() becomes that
// line with kFailed. What a job reports goes to standard output (jobSays); its progress, on a
// terminal only, to standard error (JobProgress). Jobs are not blocked by a running window:
// they rely on the database's own locking.
struct CommandLineJob {
    // The first option starts the job; any others only qualify it (e.g. --with-video).
    QList<QCommandLineOption> options;
    // A job that paints (a PDF) runs under a QGuiApplication, on the offscreen platform when no
    // display is set; the others under a QCoreApplication.
    bool paints = false;
    std::function<int(const QCommandLineParser &parser)> run;
};

// The exit codes of every job, the one table of the README's command-line section: cron
// scripts test them, so a code keeps its meaning.
namespace JobExit {
constexpr int kDone = 0;
// It failed: nothing was changed, or (a backup) what was written is not a whole copy.
constexpr int kFailed = 1;
// It cannot run as asked: a wrong option or value, or config.ini lacks the server or PACS it
// needs. Nothing was tried.
constexpr int kCannotRun = 2;
// Done in part: what was not done is listed and is tried again by the next run (--send-dicom:
// instances the PACS did not take stay in the outbox).
constexpr int kPartly = 3;
} // namespace JobExit

// Writes "examstation: <line>" to standard error and gives the exit code (kFailed unless told).
inline int jobFailed(const QString &line, int exitCode = JobExit::kFailed)
{
    std::fprintf(stderr, "examstation: %s\n", qPrintable(line));
    return exitCode;
}

// One line of a job's report on standard output.
inline void jobSays(const QString &line)
{
    std::printf("%s\n", qPrintable(line));
}
