// The patients' data stays with the account that runs the workstation: what a first start, a
// save, a recording and a backup create is private, and a folder made before is tightened.
#include "core/PrivateFiles.h"

#include "WindowFixture.h"
#include "capture/CaptureGraph.h"
#include "capture/LivePicture.h"
#include "capture/LivePictureView.h"
#include "records/Backup.h"

#include <QDirIterator>
#include <QPushButton>
#include <QTemporaryDir>

#include <sys/stat.h>

namespace {

unsigned modeOf(const QString &path)
{
    struct stat info { };
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? (info.st_mode & 0777) : 0;
}

// Every folder and file below root (root included) whose mode is not the wanted one.
QStringList wrongModes(const QString &root, unsigned folder, unsigned file)
{
    QStringList wrong;
    if (modeOf(root) != folder)
        wrong << root;
    QDirIterator entries(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (entries.hasNext()) {
        const QString path = entries.next();
        if (modeOf(path) != (entries.fileInfo().isDir() ? folder : file))
            wrong << QStringLiteral("%1 %2").arg(path).arg(modeOf(path), 0, 8);
    }
    return wrong;
}

class PrivateFilesWindow : public WindowTest {
protected:
    void SetUp() override
    {
        m_mask = ::umask(022); // Debian's desktop mask, until the start sets its own
        qputenv("EXAMSTATION_SYNTHETIC_CAMERA", "1");
        home.write(QStringLiteral("images/old.jpg"), "old"); // made before, with the mask above
        ::chmod(QFile::encodeName(home.path()).constData(), 0755);
        // What main() does before the window.
        PrivateFiles::useModesOf(home.path());
        tightened = PrivateFiles::tighten(home.path());
        WindowTest::SetUp();
    }
    void TearDown() override
    {
        qunsetenv("EXAMSTATION_SYNTHETIC_CAMERA");
        ::umask(m_mask);
    }

    int tightened = 0;

private:
    mode_t m_mask = 0;
};

TEST_F(PrivateFilesWindow, startSaveRecordingAndBackupLeaveOnlyPrivateFiles)
{
    EXPECT_EQ(tightened, 3); // the folder, images/ and old.jpg
    ASSERT_TRUE(QTest::qWaitFor([this] { return window->capture().livePicture().framesShown() > 2; }, 20000));
    addPatient(QStringLiteral("10001"), QStringLiteral("Ann Lee"));
    WindowTest::typeInto(window->edtNumber, QStringLiteral("10001"));
    QTest::mouseDClick(window->Imagemovie, Qt::LeftButton, {}, window->Imagemovie->rect().center());
    window->symptomLines[0]->lineEdit()->setText(QStringLiteral("Gastritis"));
    window->treatLines[0]->lineEdit()->setText(QStringLiteral("Rest"));
    window->cbTitle->lineEdit()->setText(QStringLiteral("Gastroscopy"));
    window->edtDoctor->setText(QStringLiteral("Dr. Wu"));
    QTest::mouseClick(window->btnGenReport, Qt::LeftButton);
    ASSERT_EQ(recordRows(QStringLiteral("10001")), 1) << dialogs.texts().join(u'|').toStdString();
    QTest::mouseClick(window->btnRecord, Qt::LeftButton);
    ASSERT_TRUE(window->capture().recording());
    QTest::qWait(500);
    QTest::mouseClick(window->btnRecord, Qt::LeftButton);
    ASSERT_FALSE(QDir(window->videoFolder()).isEmpty());
    const QTemporaryDir target;
    const Backup::Result backup = Backup::take(home.path(), target.path(), true);
    window->close();

    for (const QString &folder :
         {QStringLiteral("data"), QStringLiteral("images"), QStringLiteral("video"), QStringLiteral("temp")})
        EXPECT_EQ(wrongModes(home.file(folder), 0700, 0600), QStringList()) << folder.toStdString();
    EXPECT_EQ(modeOf(home.path()), 0700u);
    EXPECT_EQ(modeOf(home.file("system.ini")), 0600u);
    EXPECT_EQ(wrongModes(backup.folder, 0700, 0600), QStringList());
}

// A clinic's folder shared by its group: the group keeps reading and writing.
TEST_F(PrivateFilesWindow, aSharedFolderIsKeptToItsGroup)
{
    window->close();
    window.reset();
    ::chmod(QFile::encodeName(home.path()).constData(), 02755);
    PrivateFiles::useModesOf(home.path());
    PrivateFiles::tighten(home.path());
    Database db;
    db.open();
    EXPECT_EQ(modeOf(home.path()), 0770u);
    EXPECT_EQ(wrongModes(home.file("data"), 0770, 0660), QStringList());
    EXPECT_EQ(wrongModes(home.file("images"), 0770, 0660), QStringList());
}

} // namespace
