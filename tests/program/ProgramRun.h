#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

// Runs a program to its end (bounded), as cron or an SSH session would: no display at all.
struct ProgramRun {
    int status = -1;
    QString out;
    QString err;
};

inline QProcessEnvironment withoutDisplay()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    return environment;
}

// errorTerminal: a terminal to put the program's standard error on instead of a pipe; input:
// what a script pipes in (passwords, one per line), then the end of the input.
inline ProgramRun runProgram(const QString &program, const QStringList &arguments,
                             const QProcessEnvironment &environment = withoutDisplay(), int timeoutMs = 120000,
                             int errorTerminal = -1, const QByteArray &input = QByteArray())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    if (errorTerminal >= 0)
        process.setChildProcessModifier([errorTerminal] { ::dup2(errorTerminal, STDERR_FILENO); });
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    ProgramRun run;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        ADD_FAILURE() << program.toStdString() << " did not finish in time";
        return run;
    }
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

// The same with standard error on a pseudo-terminal, as when someone runs the program by hand;
// err is what the terminal received.
inline ProgramRun runProgramOnTerminal(const QString &program, const QStringList &arguments)
{
    int terminal = -1, childSide = -1;
    if (openpty(&terminal, &childSide, nullptr, nullptr, nullptr) != 0) {
        ADD_FAILURE() << "no pseudo-terminal";
        return {};
    }
    ProgramRun run = runProgram(program, arguments, withoutDisplay(), 120000, childSide);
    ::close(childSide);
    ::fcntl(terminal, F_SETFL, O_NONBLOCK);
    char buffer[4096];
    for (ssize_t n; (n = ::read(terminal, buffer, sizeof buffer)) > 0;)
        run.err += QString::fromLocal8Bit(buffer, n);
    ::close(terminal);
    return run;
}
