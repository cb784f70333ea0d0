#pragma once

#include "ScriptedDialogs.h"
#include "TestHome.h"
#include "exam/PictureSlots.h"
#include "exam/Snapshot.h"
#include "imaging/ImageControl.h"

#include <QFrame>
#include <QPushButton>
#include <QUrl>

#include <gtest/gtest.h>

#include <memory>

// The four slots as the window builds them, with a fake live picture and a fixed clock.
class SlotFixture : public ::testing::Test {
protected:
    SlotFixture()
    {
        sheet.resize(560, 300);
        const QPoint corners[4] = {{79, 13}, {312, 13}, {79, 154}, {312, 154}};
        for (int i = 0; i < 4; ++i) {
            controls.frames[i] = new QFrame(&sheet);
            controls.frames[i]->setGeometry(QRect(corners[i], QSize(168, 128)));
            controls.masks[i] = new QFrame(controls.frames[i]);
            controls.images[i] = new ImageControl(controls.masks[i]);
        }
        controls.btnGetPhoto = new QPushButton(QStringLiteral("调看照片"), &sheet);
        pictureSlots = std::make_unique<PictureSlots>(controls);
        pictureSlots->LayoutPictureSlots();
        pictureSlots->setFolderOpener([this](const QUrl &folder) { opened.append(folder); });

        live = QImage(640, 480, QImage::Format_BGR888);
        live.fill(QColor(10, 20, 30));
        LiveSource source;
        source.copyLivePicture = [this] { return live.copy(); };
        source.captureSize = [this] { return captureSize; };
        source.rememberedRunning = [this] { return running; };
        source.runGraph = [this] { ++runs; };
        source.cameraLost = [this] { return cameraLost; };
        snapshot = std::make_unique<Snapshot>(*pictureSlots, source, [this] { return now; });
        sheet.show();
    }

    ImageControl *image(int slot) const { return controls.images[slot - 1]; }
    QColor rim(int slot) const { return controls.frames[slot - 1]->palette().color(QPalette::Window); }

    // A snapshot whose live picture has the given grey level, to tell slots apart.
    void snap(int level)
    {
        live.fill(QColor(level, level, level));
        snapshot->ImagemovieDblClick();
    }
    int levelOf(int slot) const
    {
        const QImage picture = pictureSlots->picture(slot);
        return picture.isNull() ? -1 : picture.pixelColor(0, 0).red();
    }

    TestHome home;
    ScriptedDialogs dialogs;
    QWidget sheet;
    PictureSlotControls controls;
    std::unique_ptr<PictureSlots> pictureSlots;
    std::unique_ptr<Snapshot> snapshot;
    QImage live;
    QSize captureSize{1280, 1024};
    bool running = true;
    bool cameraLost = false;
    int runs = 0;
    QDateTime now{QDate(2016, 5, 1), QTime(14, 25, 30, 123)};
    QList<QUrl> opened;
};
