#include "ProgramRun.h"
#include "TestHome.h"

#include <QFile>

#include <sys/stat.h>

// A first start of the program itself, on a folder made before with Debian's user mask: the
// database it creates is private, what was there is tightened, and the log says so once.
TEST(PrivateStartTest, TheFirstStartMakesTheFolderPrivateAndLogsIt)
{
    TestHome home;
    const mode_t mask = ::umask(022);
    home.write(QStringLiteral("images/old.jpg"), "old");
    ::chmod(QFile::encodeName(home.path()).constData(), 0755);
    QProcessEnvironment environment = withoutDisplay();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("EXAMSTATION_SYNTHETIC_CAMERA"), QStringLiteral("1"));
    const ProgramRun start = runProgram(
        QStringLiteral(EXAMSTATION_BINARY),
        {QStringLiteral("--home"), home.path(), QStringLiteral("--screenshot"), home.file("shot.png")}, environment);
    ::umask(mask);
    ASSERT_EQ(start.status, 0) << start.err.toStdString();
    const auto mode = [&home](const char *relative) {
        struct stat info { };
        return ::stat(QFile::encodeName(home.file(QString::fromLatin1(relative))).constData(), &info) == 0
            ? unsigned(info.st_mode & 0777)
            : 0u;
    };
    EXPECT_EQ(mode(""), 0700u);
    EXPECT_EQ(mode("data"), 0700u);
    EXPECT_EQ(mode("data/data.db"), 0600u);
    EXPECT_EQ(mode("images"), 0700u);
    EXPECT_EQ(mode("images/old.jpg"), 0600u);
    EXPECT_EQ(mode("video"), 0700u);
    EXPECT_EQ(mode("examstation.log"), 0600u);
    const QByteArray log = home.read(QStringLiteral("examstation.log"));
    EXPECT_EQ(log.count("made private"), 1) << log.toStdString();
}
