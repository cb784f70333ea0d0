#include "capture/CameraSettings.h"

#include "CaptureFixture.h"
#include "capture/SyntheticCamera.h"
#include "capture/V4l2Camera.h"

#include <QCheckBox>
#include <QDialog>
#include <QTemporaryDir>

class CameraSettingsTest : public CaptureFixture {
protected:
    // Runs the camera settings dialog with `script` acting on its controls.
    void inDialog(const std::function<void(QDialog &)> &script)
    {
        dialogs.onDialog([&](QDialog &dialog) {
            script(dialog);
            return 0;
        });
        graph->btnCameraPropClick();
    }
    static QSlider *speed(QDialog &dialog) { return dialog.findChild<QSlider *>(QStringLiteral("Horizontal speed")); }
};

TEST_F(CameraSettingsTest, ChosenSettingsComeBackAfterAReplugAndDefaultsForgetThem)
{
    declareCameras("Cam:640x480/speed=2");
    graph->actPreviewExecute();
    inDialog([](QDialog &dialog) {
        speed(dialog)->setValue(7);
        dialog.findChild<QCheckBox *>(QStringLiteral("Flip colours"))->setChecked(true);
    });

    SyntheticCamera::setPresent(QStringLiteral("Cam"), false);
    ASSERT_TRUE(waitUntil([&] { return graph->cameraLost(); }));
    SyntheticCamera::setPresent(QStringLiteral("Cam"), true);
    ASSERT_TRUE(waitUntil([&] { return graph->graphState() == GraphState::Running; }));
    int shownSpeed = -1;
    bool flipped = false;
    inDialog([&](QDialog &dialog) {
        shownSpeed = speed(dialog)->value();
        flipped = dialog.findChild<QCheckBox *>(QStringLiteral("Flip colours"))->isChecked();
    });
    EXPECT_EQ(shownSpeed, 7);
    EXPECT_TRUE(flipped);

    inDialog([&](QDialog &dialog) {
        dialog.findChild<QPushButton *>(QStringLiteral("btnCameraDefaults"))->click();
        shownSpeed = speed(dialog)->value();
    });
    EXPECT_EQ(shownSpeed, 0) << "the camera's own default";
    // Nothing is stored any more: the next start leaves the camera as it starts (speed 2).
    graph->actPreviewExecute();
    inDialog([&](QDialog &dialog) { shownSpeed = speed(dialog)->value(); });
    EXPECT_EQ(shownSpeed, 2);
}

TEST_F(CameraSettingsTest, StoredManualValueIsSetAfterItsAutomaticSwitch)
{
    declareCameras("Cam:640x480");
    graph->actPreviewExecute();
    inDialog([](QDialog &dialog) {
        dialog.findChild<QCheckBox *>(QStringLiteral("White Balance Temperature, Auto"))->setChecked(false);
        dialog.findChild<QSlider *>(QStringLiteral("White Balance Temperature"))->setValue(5200);
    });
    graph->actPreviewExecute(); // the camera starts with its switch on again
    int shown = -1;
    inDialog([&](QDialog &dialog) {
        shown = dialog.findChild<QSlider *>(QStringLiteral("White Balance Temperature"))->value();
    });
    EXPECT_EQ(shown, 5200);
}

TEST_F(CameraSettingsTest, CamerasIniIsWrittenOnceWhenTheDialogCloses)
{
    declareCameras("Cam:640x480");
    graph->actPreviewExecute();
    const QString file = home.file(QStringLiteral("cameras.ini"));
    bool writtenWhileOpen = true;
    inDialog([&](QDialog &dialog) {
        for (int step : {3, 4, 5})
            speed(dialog)->setValue(step);
        writtenWhileOpen = QFile::exists(file);
    });
    EXPECT_FALSE(writtenWhileOpen) << "a slider's step writes no file";
    EXPECT_EQ(CameraSettings(file).stored(QStringLiteral("synthetic:Cam")).value(QStringLiteral("Horizontal speed")),
              5);
}

TEST(CameraSettingsStoreTest, RefusedOrMissingControlsAreSkippedAndLoggedOnce)
{
    QTemporaryDir folder;
    CameraSettings settings(folder.filePath(QStringLiteral("cameras.ini")));
    settings.remember(QStringLiteral("usb:046d:0825:A1B2"), QStringLiteral("Brightness"), 140);
    settings.remember(QStringLiteral("usb:046d:0825:A1B2"), QStringLiteral("Contrast"), 99);
    settings.remember(QStringLiteral("usb:046d:0825:A1B2"), QStringLiteral("Zoom, Absolute"), 3);
    settings.remember(QStringLiteral("other"), QStringLiteral("Brightness"), 1);

    // The camera's controls: brightness takes values, contrast refuses them, zoom is not offered.
    QList<int> brightness;
    CameraControlList controls(2);
    controls[0].name = QStringLiteral("Brightness");
    controls[0].apply = [&](int value) {
        brightness.append(value);
        return true;
    };
    controls[1].name = QStringLiteral("Contrast");
    controls[1].apply = [](int) { return false; };

    static QStringList warnings;
    warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext &, const QString &text) { warnings.append(text); });
    CameraSettings reread(folder.filePath(QStringLiteral("cameras.ini")));
    reread.applyTo(QStringLiteral("usb:046d:0825:A1B2"), controls);
    reread.applyTo(QStringLiteral("usb:046d:0825:A1B2"), controls);
    qInstallMessageHandler(previous);

    EXPECT_EQ(brightness, QList<int>({140, 140}));
    ASSERT_EQ(warnings.size(), 2) << warnings.join(u'\n').toStdString();
    EXPECT_TRUE(warnings.filter(QStringLiteral("Contrast")).size() == 1);
    EXPECT_TRUE(warnings.filter(QStringLiteral("Zoom, Absolute")).size() == 1);
}

TEST(CameraSettingsStoreTest, UsbCamerasAreKnownBySerialElseByPortAndModel)
{
    QTemporaryDir sysfs;
    const QString root = sysfs.path();
    auto camera = [&](const char *video, const char *usbDevice, const char *serial) {
        const QString device = root + "/devices/usb1/" + usbDevice;
        QDir().mkpath(device + "/" + usbDevice + ":1.0");
        for (const auto &[name, value] : {std::pair{"idVendor", "046d"}, std::pair{"idProduct", "0825"}}) {
            QFile file(device + "/" + name);
            file.open(QIODevice::WriteOnly);
            file.write(QByteArray(value) + "\n");
        }
        if (serial) {
            QFile file(device + "/serial");
            file.open(QIODevice::WriteOnly);
            file.write(QByteArray(serial) + "\n");
        }
        QDir().mkpath(root + "/class/video4linux/" + video);
        QFile::link(device + "/" + usbDevice + ":1.0", root + "/class/video4linux/" + video + "/device");
    };
    camera("video0", "1-1", "A1B2");
    camera("video2", "1-1.3", nullptr);
    EXPECT_EQ(V4l2Camera::identityOf("/dev/video0", "C270", root), QStringLiteral("usb:046d:0825:A1B2"));
    EXPECT_EQ(V4l2Camera::identityOf("/dev/video2", "C270", root), QStringLiteral("usb-port:1-1.3:C270"));
    EXPECT_EQ(V4l2Camera::identityOf("/dev/video4", "Grabber", root), QStringLiteral("v4l2:Grabber"));
}
