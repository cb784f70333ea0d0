#pragma once

#include "core/Measurement.h"

#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>
#include <QUrl>

#include <array>
#include <functional>

class ImageControl;
class QAbstractButton;
class QAction;
class QFrame;
class QMenu;

// The controls of the four picture slots, index 0 being slot 1.
struct PictureSlotControls {
    std::array<QFrame *, 4> frames{}; // plImageContener1 .. plImageContener4
    std::array<QFrame *, 4> masks{}; // plMask1 .. plMask4
    std::array<ImageControl *, 4> images{}; // imgPic1 .. imgPic4
    QAbstractButton *btnGetPhoto = nullptr; // "调看照片"; optional
};

// The four picture slots of the examination sheet: each slot's picture, file name and capture
// size, the slot cursor, the selection rim, the context menu and the scratch-folder view.
// Window thread only.
class PictureSlots : public QObject {
    Q_OBJECT

public:
    static constexpr int kSlotCount = 4;

    // Takes the controls over: tags 1 to 4 on the images, their reactions, the context menu
    // popImgMenu, the tooltips and the cream rims. `LayoutPictureSlots` places the masks.
    explicit PictureSlots(const PictureSlotControls &controls, QObject *parent = nullptr);
    ~PictureSlots() override;

    // Start-up: each mask at (4, 4) inside its frame, frame size minus 8; the image fills it.
    void LayoutPictureSlots();

    // k in 1..4 selects slot k (cursor 9 + k, dark red rim); anything else selects none.
    void SelectSlot(int k);
    void imgPic1Click(ImageControl *image);
    void imgPic1MouseDown(ImageControl *image, Qt::MouseButton button);
    void actDelPicExecute();
    void ClearSlotPicture(int slot);

    // Shows folder + fileName in the slot and takes fileName as the slot's file name. A
    // missing file, an empty name, or a name that is not a plain file name (a folder
    // separator, "..", an absolute path) empties the slot instead. A file that is not a
    // readable JPEG throws AppError with the decoder's message and leaves the slot as it was.
    void LoadSlotPicture(const QString &folder, const QString &fileName, int slot);
    // Writes the slot's picture to folder + its file name as JPEG; an empty slot writes
    // nothing. Creates the last level of the folder when missing. Throws AppError.
    void SaveSlotPicture(const QString &folder, int slot);
    // Deletes every file in the folder tree; folders stay, symbolic links are removed as
    // links and never followed. Undeletable files stay silently.
    static void EmptyFolderFiles(const QString &folder);
    // Writes the filled slots into the scratch folder, emptied first, and opens it.
    void btnGetPhotoClick();

    int SnapshotTargetSlot() const;
    void AdvanceSlotCursor();
    // Sets all four slot capture sizes to 0 x 0 (a patient change).
    void ResetSlotSizes();

    // A snapshot into slot k: picture and file name together; then snapshotTaken.
    void setSnapshot(int slot, const QImage &picture, const QString &fileName);
    // The processing panel's result: the picture only; file name and capture size stay.
    void setPicture(int slot, const QImage &picture);
    void setCaptureSize(int slot, QSize size);
    // The lengths measured on the slot's picture; a new picture in the slot (a snapshot, a
    // reload, the slot emptied) has none until they are set.
    void setMeasurements(int slot, const Measurements &measurements);
    Measurements measurements(int slot) const;
    // Every slot's, in slot order.
    Measurements allMeasurements() const;

    QImage picture(int slot) const;
    QString fileName(int slot) const;
    QSize captureSize(int slot) const;
    int cursor() const { return m_cursor; }
    QMenu *popImgMenu() const { return m_popImgMenu; }
    QAction *actDelPic() const { return m_actDelPic; }

    // True for a non-empty name without folder separators, "..", or a drive or root.
    static bool isPlainFileName(const QString &name);

    // How the system's file browser is asked to open a folder; tests replace it.
    using FolderOpener = std::function<void(const QUrl &folder)>;
    void setFolderOpener(FolderOpener opener) { m_openFolder = std::move(opener); }

    static const QColor kSelectedColour;
    static const QColor kIdleColour;

signals:
    // A double-click on a slot holding a picture: a copy of it, its number, its capture size.
    void slotDoubleClicked(int slot, const QImage &picture, QSize captureSize);
    // A snapshot went into the slot (setSnapshot).
    void snapshotTaken(int slot);

private:
    struct Slot {
        QImage picture;
        QString fileName;
        QSize captureSize{0, 0};
        Measurements measurements;
    };

    Slot &slotAt(int slot);
    const Slot &slotAt(int slot) const;
    void showSlot(int slot);
    void paintRim(int index, const QColor &colour);

    PictureSlotControls m_controls;
    std::array<Slot, kSlotCount> m_slots;
    int m_cursor = 0;
    QMenu *m_popImgMenu = nullptr;
    QAction *m_actDelPic = nullptr;
    FolderOpener m_openFolder;
};
