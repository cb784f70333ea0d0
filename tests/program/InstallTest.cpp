#include "ProgramRun.h"
#include "TestHome.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

// The program as a package installs it: into a temporary DESTDIR, run with no display.
class InstallTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        destdir = new QTemporaryDir;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DESTDIR"), destdir->path());
        const ProgramRun install = runProgram(QStringLiteral("cmake"),
                                              {QStringLiteral("--install"), QStringLiteral(EXAMSTATION_BUILD_DIR),
                                               QStringLiteral("--prefix"), QStringLiteral("/usr")},
                                              environment);
        ASSERT_EQ(install.status, 0) << install.err.toStdString();
    }
    static void TearDownTestSuite() { delete destdir; }

    static QString installed(const QString &relative) { return destdir->path() + QStringLiteral("/usr/") + relative; }

    static inline QTemporaryDir *destdir = nullptr;
};

TEST_F(InstallTest, InstalledProgramRunsItsJobsWithoutDisplay)
{
    for (const char *file :
         {"bin/examstation", "share/examstation/lang/english.ini", "share/examstation/lang/chinese.ini",
          "share/examstation/data/1.fr3", "share/applications/org.examstation.ExamStation.desktop",
          "share/metainfo/org.examstation.ExamStation.metainfo.xml",
          "share/icons/hicolor/scalable/apps/org.examstation.ExamStation.svg",
          "share/icons/hicolor/48x48/apps/org.examstation.ExamStation.png",
          "share/icons/hicolor/256x256/apps/org.examstation.ExamStation.png", "lib/udev/rules.d/70-examstation.rules",
          "share/doc/examstation/copyright"})
        EXPECT_TRUE(QFileInfo(installed(QString::fromLatin1(file))).isFile()) << file;
    for (const QString &language : TestHome::shippedLanguages())
        EXPECT_TRUE(QFileInfo(installed(QStringLiteral("share/examstation/lang/") + language)).isFile())
            << language.toStdString();

    const ProgramRun version = runProgram(installed(QStringLiteral("bin/examstation")), {QStringLiteral("--version")});
    EXPECT_EQ(version.status, 0) << version.err.toStdString();
    EXPECT_TRUE(version.out.startsWith(QStringLiteral("ExamStation "))) << version.out.toStdString();

    // No --home: the installed copy keeps its folder in the user's data folder, furnished from
    // the installed share folder.
    const QTemporaryDir data;
    QProcessEnvironment environment = withoutDisplay();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), data.path());
    const ProgramRun listing =
        runProgram(installed(QStringLiteral("bin/examstation")), {QStringLiteral("--deleted")}, environment);
    EXPECT_EQ(listing.status, 0) << listing.err.toStdString();
    EXPECT_TRUE(QFileInfo(data.filePath(QStringLiteral("examstation/lang/chinese.ini"))).isFile());
    EXPECT_TRUE(QFileInfo(data.filePath(QStringLiteral("examstation/data/1.fr3"))).isFile());
    EXPECT_TRUE(QFileInfo(data.filePath(QStringLiteral("examstation/data/data.db"))).isFile());

    const ProgramRun wrong = runProgram(installed(QStringLiteral("bin/examstation")),
                                        {QStringLiteral("--undelete"), QStringLiteral("x")}, environment);
    EXPECT_NE(wrong.status, 0);
    EXPECT_EQ(wrong.err.count(u'\n'), 1) << wrong.err.toStdString();
}

TEST_F(InstallTest, ValidatorsAcceptTheDesktopEntryMetainfoAndPackage)
{
    QStringList missing;
    const auto validate = [&missing](const QString &tool, QStringList arguments) {
        const QString path = QStandardPaths::findExecutable(tool);
        if (path.isEmpty()) {
            missing << tool;
            return;
        }
        const ProgramRun run = runProgram(path, arguments, QProcessEnvironment::systemEnvironment(), 300000);
        EXPECT_EQ(run.status, 0) << tool.toStdString() << ":\n" << run.out.toStdString() << run.err.toStdString();
    };
    validate(QStringLiteral("desktop-file-validate"),
             {installed(QStringLiteral("share/applications/org.examstation.ExamStation.desktop"))});
    validate(QStringLiteral("appstreamcli"),
             {QStringLiteral("validate"), QStringLiteral("--no-net"),
              installed(QStringLiteral("share/metainfo/org.examstation.ExamStation.metainfo.xml"))});

    if (QStandardPaths::findExecutable(QStringLiteral("lintian")).isEmpty()) {
        missing << QStringLiteral("lintian");
    } else {
        const QTemporaryDir packages;
        const ProgramRun cpack =
            runProgram(QStringLiteral("cpack"),
                       {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("-B"), packages.path(),
                        QStringLiteral("--config"), QStringLiteral(EXAMSTATION_BUILD_DIR "/CPackConfig.cmake")},
                       QProcessEnvironment::systemEnvironment(), 600000);
        ASSERT_EQ(cpack.status, 0) << cpack.out.toStdString() << cpack.err.toStdString();
        const QStringList debs = QDir(packages.path()).entryList({QStringLiteral("*.deb")});
        ASSERT_EQ(debs.size(), 1);
        validate(QStringLiteral("lintian"),
                 {QStringLiteral("--fail-on"), QStringLiteral("error"), QDir(packages.path()).filePath(debs[0])});
    }
    if (!missing.isEmpty())
        GTEST_SKIP() << "not installed, so not checked: " << missing.join(QStringLiteral(", ")).toStdString();
}
