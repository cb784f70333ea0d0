// Writing the settings files back when the disk refuses, and when the process dies mid-write.
// The tests run as root, for whom permission bits stop nothing. So the refusals used here hold
// for root too: a path taken by a folder, a path below a plain file, a file-size limit
// (RLIMIT_FSIZE), which cuts writes short with EFBIG just as a full disk does with ENOSPC, and
// permission cases run in a child process that has become the user "nobody".
#include "TestHome.h"
#include "core/AppError.h"
#include "core/IniFile.h"
#include "core/SafeFile.h"
#include "core/inifunc.h"

#include <QDir>

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <functional>
#include <random>

namespace {

// Lowers the file-size limit of this process while it lives; SIGXFSZ is ignored meanwhile so
// the refused write returns an error instead of ending the test program.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_savedHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = m_saved;
        lowered.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_savedHandler);
    }

private:
    rlimit m_saved{};
    void (*m_savedHandler)(int) = nullptr;
};

class SettingsSaveTest : public ::testing::Test {
protected:
    QStringList folderEntries() const
    {
        return QDir(home.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }

    TestHome home;
};

TEST_F(SettingsSaveTest, FullDiskKeepsTheOldSystemIniWholeAndTheValueInTheStore)
{
    const QByteArray old = "[camera]\r\nresolution=640x480\r\n\r\n";
    home.write("system.ini", old);
    IniFile ini;
    ini.setPath(home.file("system.ini"));
    const QString longTitle(100, u'T');

    QString message;
    {
        FileSizeLimit limit(64);
        try {
            ini.writeString("report", "title", longTitle);
        } catch (const AppError &error) {
            message = error.message();
        }
    }
    EXPECT_TRUE(message.startsWith("Cannot create file \"" + home.file("system.ini") + "\". "))
        << message.toStdString();
    EXPECT_GT(message.size(), QString("Cannot create file \"%1\". ").arg(home.file("system.ini")).size());
    EXPECT_EQ(home.read("system.ini"), old);
    EXPECT_EQ(folderEntries(), QStringList({"system.ini"})); // no temporary file left behind
    EXPECT_EQ(ini.readString("report", "title", ""), longTitle);

    // Once the disk has room again the next write saves everything the store holds.
    ini.writeString("camera", "resolution", "800x600");
    IniFile fresh;
    fresh.setPath(ini.path());
    EXPECT_EQ(fresh.readString("report", "title", ""), longTitle);
}

QByteArray writeTitle(const QString &path)
{
    try {
        IniFile ini;
        ini.setPath(path);
        const QByteArray seen = ini.readString("report", "title", "<default>").toUtf8();
        ini.writeString("report", "title", "Colonoscopy");
        return seen + "|no failure";
    } catch (const AppError &error) {
        return "|" + error.message().toUtf8();
    }
}

QString refusal(const QString &path)
{
    return "|Cannot create file \"" + path + "\". " + QString::fromLocal8Bit(strerror(EACCES));
}

TEST_F(SettingsSaveTest, ReadOnlyFolderRefusesTheWriteAndKeepsTheOldFile)
{
    const QByteArray old = "[report]\r\ntitle=Gastroscopy\r\n\r\n";
    home.write("system.ini", old);
    const QByteArray folder = QFile::encodeName(home.path());
    ASSERT_EQ(chmod(folder.constData(), 0555), 0);
    const QString path = home.file("system.ini");
    const QByteArray report = reportAsNobody([&] { return writeTitle(path); });
    chmod(folder.constData(), 0700);

    ASSERT_FALSE(report.isEmpty()) << "the unprivileged child did not run";
    EXPECT_EQ(QString::fromUtf8(report), refusal(path));
    EXPECT_EQ(home.read("system.ini"), old);
}

// A store that could not read the file never saw its contents; saving it would replace every
// setting by the one just written.
TEST_F(SettingsSaveTest, UnreadableSystemIniIsNotOverwritten)
{
    const QByteArray old = "[report]\r\ntitle=Gastroscopy\r\n\r\n[Symptom]\r\n1=gastritis\r\n\r\n";
    home.write("system.ini", old);
    const QByteArray folder = QFile::encodeName(home.path());
    const QByteArray file = QFile::encodeName(home.file("system.ini"));
    ASSERT_EQ(chmod(folder.constData(), 0777), 0);
    ASSERT_EQ(chmod(file.constData(), 0600), 0);
    const QString path = home.file("system.ini");
    const QByteArray report = reportAsNobody([&] { return writeTitle(path); });
    chmod(folder.constData(), 0700);

    ASSERT_FALSE(report.isEmpty()) << "the unprivileged child did not run";
    EXPECT_EQ(QString::fromUtf8(report), refusal(path));
    EXPECT_EQ(home.read("system.ini"), old);
}

// A settings file made read-only by an administrator is never replaced, although the folder
// would allow replacing it: system.ini and config.ini each refuse with their own text.
TEST_F(SettingsSaveTest, ReadOnlySettingsFilesAreNeverReplaced)
{
    const QByteArray oldSystem = "[report]\r\ntitle=Gastroscopy\r\n\r\n";
    const QByteArray oldConfig = "[language]\r\nname=english.ini\r\n";
    home.write("system.ini", oldSystem);
    home.write("config.ini", oldConfig);
    ASSERT_EQ(chmod(QFile::encodeName(home.path()).constData(), 0777), 0);
    for (const char *name : {"system.ini", "config.ini"})
        ASSERT_EQ(chmod(QFile::encodeName(home.file(name)).constData(), 0444), 0);
    const QString system = home.file("system.ini");
    const QByteArray report = reportAsNobody([&] {
        QByteArray result = writeTitle(system);
        try {
            WriteConfigString("language", "name", "chinese.ini");
            result += "|no failure";
        } catch (const AppError &error) {
            result += "|" + error.message().toUtf8();
        }
        return result;
    });
    chmod(QFile::encodeName(home.path()).constData(), 0700);

    ASSERT_FALSE(report.isEmpty()) << "the unprivileged child did not run";
    EXPECT_EQ(QString::fromUtf8(report), refusal(system) + "|Unable to write to " + home.file("config.ini"));
    EXPECT_EQ(home.read("system.ini"), oldSystem);
    EXPECT_EQ(home.read("config.ini"), oldConfig);
}

// A pipe has no writer to wait for and a device no end; a settings file is read only when it
// is a regular file (or a link to one) of a sane size. Reads give the defaults and writes the
// file's own refusal, so nothing replaces what could not be read.
TEST_F(SettingsSaveTest, PipesDevicesAndHugeFilesAreRefusedWithoutBeingRead)
{
    const QString system = home.file("system.ini");
    const QString config = home.file("config.ini");
    ASSERT_EQ(mkfifo(QFile::encodeName(system).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link("/dev/zero", config));
    IniFile ini;
    ini.setPath(system);
    EXPECT_EQ(ini.readString("camera", "resolution", "640x480"), "640x480");
    EXPECT_EQ(ReadConfigString("language", "name", "english.ini"), "english.ini");
    try {
        ini.writeString("camera", "resolution", "800x600");
        FAIL() << "the pipe was replaced";
    } catch (const AppError &error) {
        EXPECT_TRUE(error.message().startsWith("Cannot create file \"" + system + "\". "))
            << error.message().toStdString();
    }
    EXPECT_THROW(WriteConfigString("language", "name", "chinese.ini"), AppError);
    EXPECT_TRUE(QFileInfo(system).isFile() == false && QFileInfo(config).isSymLink());

    QFile::remove(system);
    home.write("system.ini", "[camera]\r\nresolution=800x600\r\n");
    ASSERT_EQ(truncate(QFile::encodeName(system).constData(), SafeFile::kMaxReadBytes + 1), 0);
    IniFile huge;
    huge.setPath(system);
    EXPECT_EQ(huge.readString("camera", "resolution", "640x480"), "640x480");
    EXPECT_THROW(huge.writeString("camera", "resolution", "1280x720"), AppError);
    EXPECT_EQ(QFileInfo(system).size(), SafeFile::kMaxReadBytes + 1);
}

TEST_F(SettingsSaveTest, SystemIniPathTakenByAFolderFailsWithItsPath)
{
    QDir().mkpath(home.file("system.ini"));
    IniFile ini;
    ini.setPath(home.file("system.ini"));
    EXPECT_EQ(ini.readString("camera", "resolution", "640x480"), "640x480");
    try {
        ini.writeFloat("measure", "ratio", 0.2);
        FAIL() << "the write was reported as done";
    } catch (const AppError &error) {
        EXPECT_TRUE(error.message().startsWith("Cannot create file \"" + home.file("system.ini") + "\". "))
            << error.message().toStdString();
    }
    EXPECT_DOUBLE_EQ(ini.readFloat("measure", "ratio", 0.1), 0.2);
    EXPECT_TRUE(QFileInfo(home.file("system.ini")).isDir());
}

TEST_F(SettingsSaveTest, FolderThatCannotExistFailsTheWrite)
{
    home.write("plain", "not a folder");
    IniFile ini;
    ini.setPath(home.file("plain/system.ini"));
    EXPECT_NO_THROW(ini.eraseSection("nothing")); // erasing a missing section writes nothing
    EXPECT_THROW(ini.writeString("report", "title", "x"), AppError);
    EXPECT_EQ(home.read("plain"), "not a folder");
}

TEST_F(SettingsSaveTest, ConfigIniThatCannotBeWrittenNamesItsFullPath)
{
    const QByteArray old = "[language]\r\nname=english.ini\r\n";
    home.write("config.ini", old);
    {
        FileSizeLimit limit(16);
        try {
            WriteConfigString("language", "name", "chinese.ini");
            FAIL() << "the write was reported as done";
        } catch (const AppError &error) {
            EXPECT_EQ(error.message(), "Unable to write to " + home.file("config.ini"));
        }
    }
    EXPECT_EQ(home.read("config.ini"), old);
    EXPECT_EQ(folderEntries(), QStringList({"config.ini"}));

    QFile::remove(home.file("config.ini"));
    QDir().mkpath(home.file("config.ini"));
    EXPECT_THROW(WriteConfigString("language", "name", "chinese.ini"), AppError);
    EXPECT_EQ(ReadConfigString("language", "name", "english.ini"), "english.ini");
}

// A child process writes system.ini over and over and is killed at a random moment; the file
// must then be one of the two complete versions it was alternating between.
TEST_F(SettingsSaveTest, KillDuringWriteLeavesTheOldOrTheNewFile)
{
    const QString path = home.file("system.ini");
    QByteArray versions[2];
    {
        // Large enough that a write takes a while and a kill often lands inside one.
        QByteArray phrases = "[Symptom]\r\n";
        for (int i = 1; i <= 2000; ++i)
            phrases += QByteArray::number(i) + "=phrase number " + QByteArray::number(i) + " with some length\r\n";
        home.write("system.ini", phrases);
        IniFile ini;
        ini.setPath(path);
        for (int flag = 0; flag < 2; ++flag) {
            ini.writeString("state", "flag", QString::number(flag));
            versions[flag] = home.read("system.ini");
        }
    }

    std::mt19937 random(12345);
    std::uniform_int_distribution<int> delayMicroseconds(0, 15000);
    for (int round = 0; round < 8; ++round) {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(ready[0]);
            try {
                IniFile writer;
                writer.setPath(path);
                for (int k = 0;; ++k) {
                    writer.writeString("state", "flag", QString::number(k % 2));
                    if (k == 0 && write(ready[1], "x", 1) != 1)
                        _exit(2);
                }
            } catch (...) {
                _exit(1);
            }
        }
        close(ready[1]);
        char byte = 0;
        ASSERT_EQ(read(ready[0], &byte, 1), 1) << "the writer failed before its first write";
        close(ready[0]);
        usleep(delayMicroseconds(random));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself";

        const QByteArray content = home.read("system.ini");
        ASSERT_TRUE(content == versions[0] || content == versions[1])
            << "round " << round << ": torn file of " << content.size() << " bytes";
    }
}

} // namespace
