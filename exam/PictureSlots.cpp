#include "exam/PictureSlots.h"

#include "core/AppError.h"
#include "core/ErrorDisplay.h"
#include "core/ProgramFolder.h"
#include "core/TrimmedText.h"
#include "imaging/ImageControl.h"
#include "imaging/JpegFile.h"

#include <QAbstractButton>
#include <QAction>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QMenu>

const QColor PictureSlots::kSelectedColour(128, 0, 0);
const QColor PictureSlots::kIdleColour(255, 251, 240);

namespace {

QString withSeparator(const QString &folder)
{
    return folder.endsWith(u'/') ? folder : folder + u'/';
}

} // namespace

PictureSlots::PictureSlots(const PictureSlotControls &controls, QObject *parent)
    : QObject(parent)
    , m_controls(controls)
    , m_openFolder([](const QUrl &folder) { QDesktopServices::openUrl(folder); })
{
    // The caption is the system's own and is not translated.
    m_popImgMenu = new QMenu();
    m_popImgMenu->setObjectName(QStringLiteral("popImgMenu"));
    m_actDelPic = new QAction(QStringLiteral("删除"), m_popImgMenu);
    m_actDelPic->setObjectName(QStringLiteral("actDelPic"));
    m_popImgMenu->addAction(m_actDelPic);
    ErrorDisplay::connectGuarded(m_actDelPic, &QAction::triggered, this, [this] { actDelPicExecute(); });

    for (int index = 0; index < kSlotCount; ++index) {
        ImageControl *image = m_controls.images[index];
        image->setTag(index + 1);
        image->setStretch(true);
        image->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(image, &ImageControl::clicked, this, [this, image] { imgPic1Click(image); });
        connect(image, &ImageControl::mousePressed, this,
                [this, image](Qt::MouseButton button) { imgPic1MouseDown(image, button); });
        connect(image, &ImageControl::customContextMenuRequested, this,
                [this, image](QPoint at) { m_popImgMenu->popup(image->mapToGlobal(at)); });
        connect(image, &ImageControl::doubleClicked, this, [this, image] {
            const Slot &slot = slotAt(image->tag());
            if (!slot.picture.isNull())
                emit slotDoubleClicked(image->tag(), slot.picture.copy(), slot.captureSize);
        });
        paintRim(index, kIdleColour);
        showSlot(index + 1);
    }
    if (m_controls.btnGetPhoto) {
        ErrorDisplay::connectGuarded(m_controls.btnGetPhoto, &QAbstractButton::clicked, this,
                                     [this] { btnGetPhotoClick(); });
    }
}

PictureSlots::~PictureSlots()
{
    delete m_popImgMenu;
}

void PictureSlots::LayoutPictureSlots()
{
    for (int index = 0; index < kSlotCount; ++index) {
        QFrame *frame = m_controls.frames[index];
        QFrame *mask = m_controls.masks[index];
        mask->setFrameShape(QFrame::NoFrame);
        mask->setGeometry(4, 4, frame->width() - 8, frame->height() - 8);
        m_controls.images[index]->setGeometry(0, 0, mask->width(), mask->height());
    }
}

PictureSlots::Slot &PictureSlots::slotAt(int slot)
{
    Q_ASSERT(slot >= 1 && slot <= kSlotCount);
    return m_slots[slot - 1];
}

const PictureSlots::Slot &PictureSlots::slotAt(int slot) const
{
    Q_ASSERT(slot >= 1 && slot <= kSlotCount);
    return m_slots[slot - 1];
}

void PictureSlots::showSlot(int slot)
{
    const Slot &data = slotAt(slot);
    ImageControl *image = m_controls.images[slot - 1];
    image->setPicture(data.picture);
    // The file name is the image's hint; only slots 1 and 3 show it.
    image->setToolTip(slot == 1 || slot == 3 ? data.fileName : QString());
}

void PictureSlots::paintRim(int index, const QColor &colour)
{
    QFrame *frame = m_controls.frames[index];
    QPalette palette = frame->palette();
    palette.setColor(QPalette::Window, colour);
    frame->setPalette(palette);
    frame->setAutoFillBackground(true);
}

void PictureSlots::SelectSlot(int k)
{
    const bool valid = k >= 1 && k <= kSlotCount;
    m_cursor = valid ? 9 + k : 0;
    for (int index = 0; index < kSlotCount; ++index)
        paintRim(index, valid && index == k - 1 ? kSelectedColour : kIdleColour);
}

void PictureSlots::imgPic1Click(ImageControl *image)
{
    SelectSlot(image->tag());
}

void PictureSlots::imgPic1MouseDown(ImageControl *image, Qt::MouseButton)
{
    SelectSlot(image->tag());
}

void PictureSlots::actDelPicExecute()
{
    if (m_cursor < 10 || m_cursor > 13)
        return;
    ClearSlotPicture(m_cursor - 9);
    SelectSlot(0);
}

void PictureSlots::ClearSlotPicture(int slot)
{
    Slot &data = slotAt(slot);
    data.picture = QImage();
    data.fileName.clear();
    data.measurements.clear();
    showSlot(slot);
    // Drawn empty at once, without running other pending events (a click arriving in the
    // middle of a save or a patient change must not run inside it).
    m_controls.images[slot - 1]->repaint();
}

bool PictureSlots::isPlainFileName(const QString &name)
{
    if (name.isEmpty() || name.contains(u'/') || name.contains(u'\\') || name.contains(u'\0'))
        return false;
    if (name.contains(QStringLiteral("..")) || name == QStringLiteral("."))
        return false;
    // A drive-qualified name ("c:x") is not plain either, wherever the data came from.
    if (name.size() >= 2 && name.at(1) == u':')
        return false;
    return !QDir::isAbsolutePath(name);
}

void PictureSlots::LoadSlotPicture(const QString &folder, const QString &fileName, int slot)
{
    Slot &data = slotAt(slot);
    const QString path = withSeparator(folder) + fileName;
    // A stored name is only ever a plain file name; anything else would reach outside the
    // folder, so it is treated like a missing file.
    if (!isPlainFileName(fileName) || !QFileInfo(path).isFile()) {
        data.picture = QImage();
        data.fileName.clear();
        data.measurements.clear();
        showSlot(slot);
        return;
    }
    QImage picture = JpegFile::read(path); // throws before anything of the slot changes
    data.picture = std::move(picture);
    data.fileName = fileName;
    data.measurements.clear();
    showSlot(slot);
}

void PictureSlots::SaveSlotPicture(const QString &folder, int slot)
{
    const Slot &data = slotAt(slot);
    const QString name = Text::trimmed(data.fileName);
    if (data.picture.isNull() || name.isEmpty())
        return;
    if (!isPlainFileName(name))
        throw AppError(QStringLiteral("Invalid file name \"%1\"").arg(name));
    const QString folderPath = withSeparator(Text::trimmed(folder));
    // Only the last level is created: a missing parent makes the write below fail.
    if (!QFileInfo::exists(folderPath))
        QDir().mkdir(folderPath);
    JpegFile::write(data.picture, folderPath + name);
}

void PictureSlots::EmptyFolderFiles(const QString &folder)
{
    QString path = withSeparator(folder);
    const QFileInfo self(path.chopped(1));
    // A link in place of the folder itself goes as a link: what it points at is not ours.
    if (self.isSymLink()) {
        QFile::remove(self.absoluteFilePath());
        return;
    }
    const QDir dir(path);
    const QFileInfoList entries =
        dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        // isDir() follows links; a link to a folder elsewhere must never be walked into.
        if (entry.isSymLink() || entry.isShortcut() || entry.isJunction() || !entry.isDir())
            QFile::remove(entry.absoluteFilePath());
        else
            EmptyFolderFiles(entry.absoluteFilePath());
    }
}

void PictureSlots::btnGetPhotoClick()
{
    const QString scratch = ProgramFolder::file(QStringLiteral("temp/"));
    EmptyFolderFiles(scratch);
    for (int slot = 1; slot <= kSlotCount; ++slot)
        SaveSlotPicture(scratch, slot);
    if (m_openFolder)
        m_openFolder(QUrl::fromLocalFile(scratch));
}

int PictureSlots::SnapshotTargetSlot() const
{
    return m_cursor >= 10 ? m_cursor - 9 : m_cursor + 1;
}

void PictureSlots::AdvanceSlotCursor()
{
    if (m_cursor >= 0 && m_cursor <= 3)
        m_cursor = (m_cursor + 1) % 4;
}

void PictureSlots::ResetSlotSizes()
{
    for (Slot &slot : m_slots)
        slot.captureSize = QSize(0, 0);
}

void PictureSlots::setSnapshot(int slot, const QImage &picture, const QString &fileName)
{
    Slot &data = slotAt(slot);
    data.picture = picture.convertToFormat(JpegFile::kBitmapFormat);
    data.fileName = fileName;
    data.measurements.clear();
    showSlot(slot);
    emit snapshotTaken(slot);
}

void PictureSlots::setPicture(int slot, const QImage &picture)
{
    slotAt(slot).picture = picture.convertToFormat(JpegFile::kBitmapFormat);
    showSlot(slot);
}

void PictureSlots::setCaptureSize(int slot, QSize size)
{
    slotAt(slot).captureSize = size;
}

void PictureSlots::setMeasurements(int slot, const Measurements &measurements)
{
    Measurements &kept = slotAt(slot).measurements;
    kept = measurements;
    for (Measurement &measurement : kept)
        measurement.slot = slot;
}

Measurements PictureSlots::measurements(int slot) const
{
    return slotAt(slot).measurements;
}

Measurements PictureSlots::allMeasurements() const
{
    Measurements all;
    for (const Slot &slot : m_slots)
        all += slot.measurements;
    return all;
}

QImage PictureSlots::picture(int slot) const
{
    return slotAt(slot).picture;
}

QString PictureSlots::fileName(int slot) const
{
    return slotAt(slot).fileName;
}

QSize PictureSlots::captureSize(int slot) const
{
    return slotAt(slot).captureSize;
}
