#include "SlotFixture.h"
#include "core/AppError.h"
#include "core/ErrorDisplay.h"
#include "imaging/JpegFile.h"

#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

namespace {

QImage filled(QColor colour, QSize size = {64, 48})
{
    QImage picture(size, QImage::Format_BGR888);
    picture.fill(colour);
    return picture;
}

using PictureSlotsTest = SlotFixture;

TEST_F(PictureSlotsTest, LayoutPlacesMaskAndImageInsideTheFrame)
{
    for (int slot = 1; slot <= 4; ++slot) {
        EXPECT_EQ(controls.masks[slot - 1]->geometry(), QRect(4, 4, 160, 120));
        EXPECT_EQ(image(slot)->geometry(), QRect(0, 0, 160, 120));
        EXPECT_EQ(image(slot)->tag(), slot);
        EXPECT_EQ(rim(slot), PictureSlots::kIdleColour);
    }
}

TEST_F(PictureSlotsTest, SnapshotsFillTheSlotsInTurnAndWrapAround)
{
    for (int level = 1; level <= 5; ++level)
        snap(level);
    EXPECT_EQ(levelOf(1), 5);
    EXPECT_EQ(levelOf(2), 2);
    EXPECT_EQ(levelOf(3), 3);
    EXPECT_EQ(levelOf(4), 4);
    EXPECT_EQ(pictureSlots->cursor(), 1);
    EXPECT_EQ(pictureSlots->SnapshotTargetSlot(), 2);
    EXPECT_EQ(runs, 5);
}

TEST_F(PictureSlotsTest, SnapshotRecordsNameSizeAndACopyOfTheLivePicture)
{
    snap(7);
    EXPECT_EQ(pictureSlots->fileName(1), "20160501142530123.jpg");
    EXPECT_EQ(pictureSlots->captureSize(1), QSize(1280, 1024));
    EXPECT_EQ(pictureSlots->picture(1).size(), QSize(640, 480));
    live.fill(Qt::white); // the camera goes on; the slot keeps its frozen frame
    EXPECT_EQ(levelOf(1), 7);
    EXPECT_EQ(image(1)->toolTip(), "20160501142530123.jpg");
}

TEST_F(PictureSlotsTest, SnapshotsNeverShareAFileName)
{
    // The clock stands still: every snapshot still gets a name of its own.
    snap(1);
    snap(2);
    EXPECT_EQ(pictureSlots->fileName(2), "20160501142530124.jpg");
    // A saved file of an earlier examination is never taken over.
    home.write("images/20160501142530125.jpg", "earlier");
    snap(3);
    EXPECT_EQ(pictureSlots->fileName(3), "20160501142530126.jpg");
    // A clock set back does not reuse names either.
    now = now.addSecs(-60);
    snap(4);
    EXPECT_EQ(pictureSlots->fileName(4), "20160501142530127.jpg");
}

TEST_F(PictureSlotsTest, GraphRunsAgainOnlyWhenItWasRunning)
{
    running = false;
    snap(1);
    EXPECT_EQ(runs, 0);
    running = true;
    snap(2);
    EXPECT_EQ(runs, 1);
}

TEST_F(PictureSlotsTest, SnapshotWhileTheCameraIsAwayIsRefusedQuietly)
{
    snap(40);
    cameraLost = true;
    snap(90);
    EXPECT_EQ(levelOf(1), 40);
    EXPECT_EQ(levelOf(2), -1);
    EXPECT_TRUE(dialogs.boxes().isEmpty());
}

TEST_F(PictureSlotsTest, ClickingASlotSelectsItForEverySnapshot)
{
    snap(1);
    QTest::mouseClick(image(3), Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_EQ(pictureSlots->cursor(), 12);
    EXPECT_EQ(rim(3), PictureSlots::kSelectedColour);
    EXPECT_EQ(rim(1), PictureSlots::kIdleColour);
    QStringList names;
    for (int level = 10; level < 13; ++level) {
        now = now.addMSecs(5);
        snap(level);
        names.append(pictureSlots->fileName(3));
    }
    EXPECT_EQ(levelOf(3), 12);
    EXPECT_EQ(levelOf(2), -1);
    EXPECT_EQ(pictureSlots->cursor(), 12);
    names.removeDuplicates();
    EXPECT_EQ(names.size(), 3);
}

TEST_F(PictureSlotsTest, DeleteThroughTheContextMenu)
{
    snap(1);
    snap(2);
    QTest::mousePress(image(2), Qt::RightButton, {}, QPoint(5, 5));
    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, QPoint(5, 5), image(2)->mapToGlobal(QPoint(5, 5)));
    QCoreApplication::sendEvent(image(2), &menuEvent);
    QTest::mouseRelease(image(2), Qt::RightButton, {}, QPoint(5, 5));
    EXPECT_EQ(pictureSlots->cursor(), 11);
    ASSERT_TRUE(pictureSlots->popImgMenu()->isVisible());
    const QList<QAction *> items = pictureSlots->popImgMenu()->actions();
    ASSERT_EQ(items.size(), 1);
    EXPECT_EQ(items.first()->text(), "删除");
    items.first()->trigger();
    pictureSlots->popImgMenu()->hide();

    EXPECT_TRUE(pictureSlots->picture(2).isNull());
    EXPECT_TRUE(pictureSlots->fileName(2).isEmpty());
    EXPECT_EQ(pictureSlots->captureSize(2), QSize(1280, 1024)); // size untouched
    EXPECT_EQ(pictureSlots->cursor(), 0);
    EXPECT_EQ(rim(2), PictureSlots::kIdleColour);
    // The next snapshot goes into slot 1, although slot 1 holds a picture.
    snap(9);
    EXPECT_EQ(levelOf(1), 9);
}

TEST_F(PictureSlotsTest, DeleteWithoutASelectionDoesNothing)
{
    snap(1);
    pictureSlots->actDelPicExecute();
    EXPECT_EQ(levelOf(1), 1);
    pictureSlots->SelectSlot(7); // no such slot: no selection
    EXPECT_EQ(pictureSlots->cursor(), 0);
}

TEST_F(PictureSlotsTest, OnlySlotsOneAndThreeShowTheirNameAsTooltip)
{
    for (int level = 1; level <= 4; ++level)
        snap(level);
    EXPECT_EQ(image(1)->toolTip(), pictureSlots->fileName(1));
    EXPECT_TRUE(image(2)->toolTip().isEmpty());
    EXPECT_EQ(image(3)->toolTip(), pictureSlots->fileName(3));
    EXPECT_TRUE(image(4)->toolTip().isEmpty());
    pictureSlots->ClearSlotPicture(3);
    EXPECT_TRUE(image(3)->toolTip().isEmpty());
}

TEST_F(PictureSlotsTest, DoubleClickHandsOverACopyOnlyForAFilledSlot)
{
    QSignalSpy handed(pictureSlots.get(), &PictureSlots::slotDoubleClicked);
    QTest::mouseDClick(image(2), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(handed.count(), 0);
    snap(1);
    snap(2);
    QTest::mouseDClick(image(2), Qt::LeftButton, {}, QPoint(5, 5));
    ASSERT_EQ(handed.count(), 1);
    EXPECT_EQ(handed.first().at(0).toInt(), 2);
    EXPECT_EQ(handed.first().at(2).toSize(), QSize(1280, 1024));
}

class SlotFilesTest : public SlotFixture {
protected:
    QString images() const { return home.file("images/"); }
};

TEST_F(SlotFilesTest, SaveAndLoadRoundTrip)
{
    snap(200);
    pictureSlots->SaveSlotPicture(images(), 1); // creates images/
    const QString name = pictureSlots->fileName(1);
    ASSERT_TRUE(QFile::exists(images() + name));
    pictureSlots->ClearSlotPicture(1);
    pictureSlots->LoadSlotPicture(images(), name, 3);
    EXPECT_EQ(pictureSlots->fileName(3), name);
    EXPECT_EQ(pictureSlots->picture(3).size(), QSize(640, 480));
    EXPECT_NEAR(levelOf(3), 200, 2);
    EXPECT_EQ(pictureSlots->captureSize(3), QSize(0, 0)); // loading leaves the size alone
}

TEST_F(SlotFilesTest, BrokenJpegLeavesTheSlotAsItWas)
{
    snap(50);
    const QString before = pictureSlots->fileName(1);
    home.write("images/broken.jpg", "\xff\xd8\xff\xe0 this is not the rest of a JPEG");
    EXPECT_THROW(pictureSlots->LoadSlotPicture(images(), "broken.jpg", 1), AppError);
    EXPECT_EQ(pictureSlots->fileName(1), before);
    EXPECT_EQ(levelOf(1), 50);
    // Through the reaction's error display the operator sees the decoder's message.
    EXPECT_FALSE(ErrorDisplay::guarded([&] { pictureSlots->LoadSlotPicture(images(), "broken.jpg", 1); }));
    ASSERT_EQ(dialogs.boxes().size(), 1);
    EXPECT_EQ(dialogs.boxes().first().kind, Dialogs::Kind::Error);
}

TEST_F(SlotFilesTest, MissingFileOrEmptyNameEmptiesTheSlot)
{
    snap(50);
    snap(60);
    pictureSlots->LoadSlotPicture(images(), "20990101000000000.jpg", 1);
    pictureSlots->LoadSlotPicture(images(), QString(), 2);
    EXPECT_TRUE(pictureSlots->picture(1).isNull());
    EXPECT_TRUE(pictureSlots->fileName(1).isEmpty());
    EXPECT_TRUE(pictureSlots->picture(2).isNull());
    EXPECT_TRUE(pictureSlots->fileName(2).isEmpty());
}

TEST_F(SlotFilesTest, NamesThatLeaveTheFolderAreRefused)
{
    // Real JPEG files beside and above the images folder, so a refusal is not a missing file.
    QDir().mkpath(home.file("images/sub"));
    JpegFile::write(filled(Qt::red), home.file("outside.jpg"));
    JpegFile::write(filled(Qt::red), home.file("images/sub/inner.jpg"));
    const QStringList hostile = {
        "../outside.jpg", "sub/inner.jpg", "sub\\inner.jpg", home.file("outside.jpg"), "..", "."};
    for (const QString &name : hostile) {
        snap(1);
        pictureSlots->LoadSlotPicture(images(), name, 1);
        EXPECT_TRUE(pictureSlots->picture(1).isNull()) << name.toStdString();
        EXPECT_TRUE(pictureSlots->fileName(1).isEmpty()) << name.toStdString();
    }
    EXPECT_TRUE(PictureSlots::isPlainFileName("20160501142530123.jpg"));
}

TEST_F(SlotFilesTest, SavingAnEmptySlotWritesNothing)
{
    pictureSlots->SaveSlotPicture(images(), 2);
    EXPECT_FALSE(QFileInfo::exists(images()));
}

TEST_F(SlotFilesTest, SavingIntoAFolderWithoutParentFails)
{
    snap(1);
    EXPECT_THROW(pictureSlots->SaveSlotPicture(home.file("no/images/"), 1), AppError);
}

class ScratchFolderTest : public SlotFixture {
protected:
    QString scratch() const { return home.file("temp/"); }
    QStringList scratchFiles() const
    {
        return QDir(scratch()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    }
};

TEST_F(ScratchFolderTest, ShowsExactlyTheFilledSlots)
{
    home.write("temp/old.jpg", "old");
    home.write("temp/.hidden", "old");
    home.write("temp/sub/deeper/old.txt", "old");
    for (int level = 1; level <= 4; ++level)
        snap(level);
    pictureSlots->ClearSlotPicture(2);
    pictureSlots->ClearSlotPicture(3);

    QTest::mouseClick(controls.btnGetPhoto, Qt::LeftButton);

    EXPECT_EQ(scratchFiles(), QStringList({pictureSlots->fileName(1), pictureSlots->fileName(4)}));
    EXPECT_EQ(JpegFile::read(scratch() + pictureSlots->fileName(4)).size(), QSize(640, 480));
    // Sub-folders stay, emptied of files.
    EXPECT_TRUE(QFileInfo(scratch() + "sub/deeper").isDir());
    EXPECT_TRUE(QDir(scratch() + "sub/deeper").isEmpty(QDir::Files | QDir::Hidden | QDir::System));
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened.first(), QUrl::fromLocalFile(scratch()));
}

TEST_F(ScratchFolderTest, LinksAreRemovedNotFollowed)
{
    QTemporaryDir outside;
    ASSERT_TRUE(outside.isValid());
    QFile keep(outside.filePath("keep.txt"));
    ASSERT_TRUE(keep.open(QIODevice::WriteOnly));
    keep.write("precious");
    keep.close();
    QDir().mkpath(scratch());
    ASSERT_TRUE(QFile::link(outside.path(), scratch() + "folder-link"));
    ASSERT_TRUE(QFile::link(outside.filePath("keep.txt"), scratch() + "file-link"));
    ASSERT_TRUE(QFile::link(outside.filePath("gone"), scratch() + "dangling"));

    pictureSlots->btnGetPhotoClick();

    EXPECT_TRUE(QFile::exists(outside.filePath("keep.txt")));
    EXPECT_EQ(QDir(scratch()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot), QStringList());
}

TEST_F(ScratchFolderTest, ScratchFolderThatIsALinkIsReplaced)
{
    QTemporaryDir outside;
    QFile keep(outside.filePath("keep.txt"));
    ASSERT_TRUE(keep.open(QIODevice::WriteOnly));
    keep.close();
    ASSERT_TRUE(QFile::link(outside.path(), home.file("temp")));
    snap(1);

    pictureSlots->btnGetPhotoClick();

    EXPECT_TRUE(QFile::exists(outside.filePath("keep.txt")));
    EXPECT_FALSE(QFileInfo(home.file("temp")).isSymLink());
    EXPECT_EQ(scratchFiles(), QStringList({pictureSlots->fileName(1)}));
    EXPECT_EQ(QDir(outside.path()).entryList(QDir::Files), QStringList({"keep.txt"}));
}

} // namespace

namespace {

TEST_F(PictureSlotsTest, StillImageFromAnotherThreadSnapsOnTheWindowThread)
{
    std::thread camera([this] {
        snapshot->requestSnapshot();
        snapshot->requestSnapshot();
    });
    camera.join();
    EXPECT_TRUE(pictureSlots->picture(1).isNull()); // nothing before the window's loop runs
    QCoreApplication::processEvents();
    EXPECT_FALSE(pictureSlots->picture(1).isNull());
    EXPECT_FALSE(pictureSlots->picture(2).isNull());
    EXPECT_TRUE(pictureSlots->picture(3).isNull());
}

} // namespace
