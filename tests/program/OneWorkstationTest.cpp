#include "ProgramRun.h"
#include "ScriptedDialogs.h"
#include "TestHome.h"
#include "app/WorkstationStart.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QThread>

namespace {
// Every file of the folder with its contents' hash; the database's shared-memory and
// write-ahead files belong to the running workstation and are left out.
QStringList folderState(const QString &folder)
{
    QStringList state;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        if (file.endsWith(QStringLiteral("-wal")) || file.endsWith(QStringLiteral("-shm")))
            continue;
        QFile content(file);
        content.open(QIODevice::ReadOnly);
        state << file + u' ' + QCryptographicHash::hash(content.readAll(), QCryptographicHash::Sha1).toHex();
    }
    state.sort();
    return state;
}

QProcessEnvironment offscreenWithCamera()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("EXAMSTATION_SYNTHETIC_CAMERA"), QStringLiteral("1"));
    return environment;
}
} // namespace

// A second start on a folder a running workstation holds says so and changes no file; after
// the workstation is killed with SIGKILL, its lock does not block the next start.
TEST(OneWorkstationTest, SecondStartIsRefusedAndAKilledHolderDoesNotBlock)
{
    TestHome home;
    home.installLanguageFiles();
    home.installReportTemplate();
    QProcess first;
    first.setProcessEnvironment(offscreenWithCamera());
    first.start(QStringLiteral(EXAMSTATION_BINARY), {QStringLiteral("--home"), home.path()});
    ASSERT_TRUE(first.waitForStarted());
    // Up when its start-up has written what it writes: the folder stays the same a while.
    QStringList state;
    for (int wait = 0; wait < 120; ++wait) {
        QThread::msleep(250);
        const QStringList now = folderState(home.path());
        if (now == state && QFile::exists(home.file(QStringLiteral("data/data.db"))))
            break;
        state = now;
    }
    ASSERT_EQ(first.state(), QProcess::Running) << first.readAllStandardError().toStdString();

    {
        ScriptedDialogs dialogs;
        WorkstationLock second(home.path());
        EXPECT_FALSE(claimProgramFolder(second));
        ASSERT_EQ(dialogs.boxes().size(), 1);
        EXPECT_TRUE(dialogs.boxes()[0].text.contains(QStringLiteral("already running")));
    }
    EXPECT_EQ(folderState(home.path()), state);

    first.kill();
    ASSERT_TRUE(first.waitForFinished(30000));
    const QString screenshot = home.file(QStringLiteral("shot.png"));
    const ProgramRun next = runProgram(
        QStringLiteral(EXAMSTATION_BINARY),
        {QStringLiteral("--home"), home.path(), QStringLiteral("--screenshot"), screenshot}, offscreenWithCamera());
    EXPECT_EQ(next.status, 0) << next.err.toStdString();
    EXPECT_TRUE(QFile::exists(screenshot));
}

// A folder this user may not write, or another user's lock file it may not read, is no running
// workstation: the box says what is wrong.
TEST(OneWorkstationTest, LockFileThatMayNotBeWrittenOrReadIsNamedAsSuch)
{
    TestHome home;
    home.installLanguageFiles();
    const QFile::Permissions readable = QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther;
    for (const bool lockFileThere : {false, true}) {
        SCOPED_TRACE(lockFileThere ? "another user's lock file" : "a folder that may not be written");
        if (lockFileThere)
            home.write(QStringLiteral("examstation.lock"), "4242\nexamstation\nother-host\n");
        QFile::setPermissions(home.file(QStringLiteral("examstation.lock")), {});
        QFile::setPermissions(home.path(), lockFileThere ? readable | QFile::WriteOwner | QFile::WriteOther : readable);
        const QByteArray text = reportAsNobody([&home] {
            ScriptedDialogs dialogs;
            WorkstationLock lock(home.path());
            return claimProgramFolder(lock) ? QByteArray("claimed") : dialogs.texts().join(u'\n').toUtf8();
        });
        QFile::setPermissions(home.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        EXPECT_TRUE(text.contains("permission denied") && !text.contains("already running")) << text.toStdString();
    }
}
