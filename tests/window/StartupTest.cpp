// Start-up and shut-down of the main window: folders, defaults, the error display, SIGTERM.
#include "ScriptedDialogs.h"
#include "TestHome.h"
#include "app/untMain.h"
#include "core/AppError.h"
#include "core/ErrorDisplay.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <memory>

namespace {

TEST(ErrorDisplayText, fullStopIsAppendedOnlyAfterCharactersAboveIt)
{
    EXPECT_EQ(ErrorDisplay::textFor(QStringLiteral("Cannot open file")), QStringLiteral("Cannot open file."));
    EXPECT_EQ(ErrorDisplay::textFor(QStringLiteral("Done.")), QStringLiteral("Done."));
    // ")" and "-" have codes below ".", so nothing is added after them.
    EXPECT_EQ(ErrorDisplay::textFor(QStringLiteral("Failed ($80004005)")), QStringLiteral("Failed ($80004005)"));
    EXPECT_EQ(ErrorDisplay::textFor(QStringLiteral("a-")), QStringLiteral("a-"));
    EXPECT_EQ(ErrorDisplay::textFor(QStringLiteral("100/")), QStringLiteral("100/."));
    EXPECT_EQ(ErrorDisplay::textFor(QStringLiteral("无法打开")), QStringLiteral("无法打开."));
    EXPECT_EQ(ErrorDisplay::textFor(QString()), QString());
}

TEST(ErrorDisplayText, failureIsShownAsAnErrorBoxCaptionedWithTheProgramName)
{
    ScriptedDialogs dialogs;
    int stepsRun = 0;
    const bool completed = ErrorDisplay::guarded([&] {
        ++stepsRun;
        throw AppError(QStringLiteral("Unable to write to /x/config.ini"));
        ++stepsRun;
    });
    EXPECT_FALSE(completed);
    EXPECT_EQ(stepsRun, 1);
    ASSERT_EQ(dialogs.boxes().size(), 1);
    EXPECT_EQ(dialogs.boxes()[0].kind, Dialogs::Kind::Error);
    EXPECT_EQ(dialogs.boxes()[0].text, QStringLiteral("Unable to write to /x/config.ini."));
    EXPECT_EQ(dialogs.boxes()[0].caption, QStringLiteral("test_window"));
}

class Startup : public ::testing::Test {
protected:
    TestHome home;
    ScriptedDialogs dialogs;
};

TEST_F(Startup, createsMissingFoldersAndLeavesExistingOnesAsTheyAre)
{
    home.write(QStringLiteral("images/20240101120000000.jpg"), "picture");
    home.write(QStringLiteral("temp/old/kept.txt"), "kept");

    TfrmMain window;

    for (const char *folder : {"images", "video", "temp"})
        EXPECT_TRUE(QDir(home.file(QLatin1String(folder))).exists()) << folder;
    EXPECT_EQ(home.read(QStringLiteral("images/20240101120000000.jpg")), QByteArray("picture"));
    EXPECT_EQ(home.read(QStringLiteral("temp/old/kept.txt")), QByteArray("kept"));
    EXPECT_EQ(window.imagesFolder(), home.file(QStringLiteral("images/")));
    EXPECT_EQ(window.videoFolder(), home.file(QStringLiteral("video/")));
    EXPECT_EQ(window.scratchFolder(), home.file(QStringLiteral("temp/")));
}

// A save that a crash cut short leaves its temporary beside the picture; the next start
// removes it, and nothing else.
TEST_F(Startup, temporaryPicturesOfASaveCutShortAreRemoved)
{
    home.write(QStringLiteral("images/20240101120000000.jpg"), "picture");
    home.write(QStringLiteral("images/20240101120000000.jpg.tmp0a1b2c3d"), "half a picture");
    home.write(QStringLiteral("images/notes.tmp"), "kept");

    TfrmMain window;

    EXPECT_FALSE(QFile::exists(home.file(QStringLiteral("images/20240101120000000.jpg.tmp0a1b2c3d"))));
    EXPECT_TRUE(QFile::exists(home.file(QStringLiteral("images/20240101120000000.jpg"))));
    EXPECT_TRUE(QFile::exists(home.file(QStringLiteral("images/notes.tmp"))));
}

TEST_F(Startup, anEmptyProgramFolderStartsWithEveryDefault)
{
    home.installLanguageFiles();
    TfrmMain window;
    window.show();

    // No config.ini: the English language file is applied when the window is first shown.
    EXPECT_EQ(window.cbLang->currentText(), QStringLiteral("English"));
    EXPECT_EQ(window.btnGenReport->text(), QStringLiteral("Generate Report"));
    EXPECT_EQ(window.lbNumber->text(), QStringLiteral("Number"));
    EXPECT_FALSE(QFile::exists(home.file(QStringLiteral("config.ini"))));

    EXPECT_TRUE(window.cbTitle->currentText().isEmpty());
    for (QComboBox *header : {window.cbTitle, window.cbProposer}) {
        ASSERT_LE(header->count(), 1);
        EXPECT_TRUE(header->itemText(0).isEmpty());
    }
    EXPECT_TRUE(window.cbProposer->currentText().isEmpty());
    EXPECT_TRUE(window.edtDoctor->text().isEmpty());
    // An empty phrase library offers only the empty choice.
    for (QComboBox *line : window.symptomLines) {
        ASSERT_EQ(line->count(), 1);
        EXPECT_TRUE(line->itemText(0).isEmpty());
    }
    for (QComboBox *line : window.treatLines) {
        ASSERT_EQ(line->count(), 1);
        EXPECT_TRUE(line->itemText(0).isEmpty());
        EXPECT_TRUE(line->isEnabled());
    }
    EXPECT_TRUE(window.ckbHaveTreat->isChecked());
    EXPECT_TRUE(dialogs.boxes().isEmpty()) << dialogs.texts().join(u'|').toStdString();
}

TEST_F(Startup, aFailingStepIsShownAndEndsTheSequenceButTheWindowOpens)
{
    // A folder where the database file should be: opening the database fails.
    QDir().mkpath(home.file(QStringLiteral("data/data.db")));
    home.write(QStringLiteral("system.ini"), "[Symptom]\r\n1=fever\r\n");

    TfrmMain window;
    ASSERT_EQ(dialogs.boxes().size(), 1);
    EXPECT_EQ(dialogs.boxes()[0].kind, Dialogs::Kind::Error);
    EXPECT_FALSE(dialogs.boxes()[0].text.isEmpty());
    EXPECT_EQ(dialogs.boxes()[0].caption, QStringLiteral("test_window"));

    // Steps after the failure did not run: no phrase choices.
    EXPECT_EQ(window.symptomLines[0]->count(), 0);
    // The folders of the steps before it exist, and the window opens.
    EXPECT_TRUE(QDir(home.file(QStringLiteral("images"))).exists());
    window.show();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.plGrid->isVisible());
}

TEST_F(Startup, phraseChoicesAreFilledFromTheSettingsFile)
{
    home.write(QStringLiteral("system.ini"), "[Symptom]\r\n1=fever\r\n2=cough\r\n[Treatment]\r\n1=rest\r\n");
    TfrmMain window;
    EXPECT_TRUE(dialogs.boxes().isEmpty()) << dialogs.texts().join(u'|').toStdString();
    EXPECT_GE(window.symptomLines[3]->findText(QStringLiteral("cough")), 0);
    EXPECT_GE(window.treatLines[0]->findText(QStringLiteral("rest")), 0);
    EXPECT_TRUE(QFile::exists(home.file(QStringLiteral("data/data.db"))));
}

TEST_F(Startup, sigtermClosesTheWindowTheNormalWay)
{
    QProcess program;
    program.setProgram(QStringLiteral(EXAMSTATION_BINARY));
    program.setArguments({QStringLiteral("--home"), home.path()});
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // The exit status is the point here; the system libraries' leak suppressions come with
    // ctest's environment, so a run by hand does not count their allocations.
    if (!environment.contains(QStringLiteral("LSAN_OPTIONS")))
        environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    program.setProcessEnvironment(environment);
    program.start();
    ASSERT_TRUE(program.waitForStarted(10000));
    // The window is up once start-up has created the folders; give the loop a moment to run.
    ASSERT_TRUE(QTest::qWaitFor([&] { return QDir(home.file(QStringLiteral("temp"))).exists(); }, 30000));
    QTest::qWait(500);

    ::kill(program.processId(), SIGTERM);
    ASSERT_TRUE(program.waitForFinished(30000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().toStdString();
}

} // namespace
