#include "capture/StillButton.h"

#include "CaptureFixture.h"
#include "capture/FootSwitch.h"
#include "capture/SyntheticCamera.h"
#include "core/inifunc.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>

#include <fcntl.h>
#include <linux/input.h>
#include <sys/stat.h>
#include <unistd.h>

class StillButtonTest : public CaptureFixture { };

TEST_F(StillButtonTest, EachPressReachesTheWindowThreadExactlyOnce)
{
    declareCameras("Cam:640x480/still");
    graph->actPreviewExecute();
    ASSERT_TRUE(graph->hasStillOutput());
    QList<bool> onWindowThread;
    QObject::connect(
        graph.get(), &CaptureGraph::snapshotRequested, graph.get(),
        [&] { onWindowThread.append(QThread::currentThread() == qApp->thread()); }, Qt::DirectConnection);

    ASSERT_TRUE(SyntheticCamera::pressStillButton(QStringLiteral("Cam")));
    ASSERT_TRUE(waitUntil([&] { return onWindowThread.size() >= 1; }));
    ASSERT_TRUE(SyntheticCamera::pressStillButton(QStringLiteral("Cam")));
    ASSERT_TRUE(SyntheticCamera::pressStillButton(QStringLiteral("Cam")));
    ASSERT_TRUE(waitUntil([&] { return onWindowThread.size() >= 3; }));
    waitUntil([] { return false; }, 200);
    EXPECT_EQ(onWindowThread, QList<bool>({true, true, true}));
}

TEST_F(StillButtonTest, CameraWithoutButtonHasNoStillOutput)
{
    declareCameras("Plain:640x480");
    graph->actPreviewExecute();
    EXPECT_FALSE(graph->hasStillOutput());
    EXPECT_FALSE(SyntheticCamera::pressStillButton(QStringLiteral("Plain")));
}

TEST_F(StillButtonTest, StoppedGraphNoLongerListensToTheButton)
{
    declareCameras("Cam:640x480/still");
    graph->actPreviewExecute();
    graph->actStopExecute();
    EXPECT_FALSE(SyntheticCamera::pressStillButton(QStringLiteral("Cam")));
}

TEST(StillButtonReaderTest, ReleasesAndOtherKeysTakeNoSnapshot)
{
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::atomic<int> presses{0};
    {
        StillButton button(fds[0], [&] { presses.fetch_add(1); });
        input_event events[4] = {};
        events[0] = {{}, EV_KEY, KEY_CAMERA, 1};
        events[1] = {{}, EV_KEY, KEY_CAMERA, 0};
        events[2] = {{}, EV_KEY, KEY_A, 1};
        events[3] = {{}, EV_KEY, KEY_CAMERA, 2}; // auto-repeat of a held button
        // Split in the middle of a record, as a pipe may deliver it.
        const char *bytes = reinterpret_cast<const char *>(events);
        ASSERT_EQ(::write(fds[1], bytes, 10), 10);
        ASSERT_EQ(::write(fds[1], bytes + 10, sizeof events - 10), ssize_t(sizeof events - 10));
        events[0].value = 1;
        ASSERT_EQ(::write(fds[1], events, sizeof events[0]), ssize_t(sizeof events[0]));
        for (int i = 0; i < 200 && presses.load() < 2; ++i)
            QThread::msleep(5);
    }
    ::close(fds[1]);
    EXPECT_EQ(presses.load(), 2);
}

TEST(StillButtonReaderTest, FindsTheEventDeviceOfTheSameUsbDeviceInSysfs)
{
    QTemporaryDir sysfs;
    const QString root = sysfs.path();
    QDir().mkpath(root + "/devices/usb1/1-1/1-1:1.0/video4linux/video0");
    QDir().mkpath(root + "/devices/usb1/1-1/1-1:1.0/input/input7/event5");
    QDir().mkpath(root + "/devices/usb1/1-2/1-2:1.0/input/input3/event2"); // a keyboard elsewhere
    QDir().mkpath(root + "/class/video4linux/video0");
    QDir().mkpath(root + "/class/input");
    QFile::link(root + "/devices/usb1/1-1/1-1:1.0", root + "/class/video4linux/video0/device");
    for (const auto &[event, input] : {std::pair{"event2", "/devices/usb1/1-2/1-2:1.0/input/input3"},
                                       std::pair{"event5", "/devices/usb1/1-1/1-1:1.0/input/input7"}}) {
        QDir().mkpath(root + "/class/input/" + event);
        QFile::link(root + input, root + "/class/input/" + event + "/device");
    }
    EXPECT_EQ(StillButton::findInputDevice(QStringLiteral("/dev/video0"), root), QStringLiteral("/dev/input/event5"));
    EXPECT_EQ(StillButton::findInputDevice(QStringLiteral("/dev/video9"), root), QString());
}

TEST(SyntheticCameraTest, DeclarationsListCamerasTypesAndOptions)
{
    const auto cameras =
        SyntheticCamera::parse(QStringLiteral("Left:YUY2 640x480, MJPG 1280x720/still/fps=15;800x600"));
    ASSERT_EQ(cameras.size(), 2);
    EXPECT_EQ(cameras[0].name, QStringLiteral("Left"));
    ASSERT_EQ(cameras[0].types.size(), 2);
    EXPECT_EQ(cameras[0].types[1].encoding(), QStringLiteral("MJPG"));
    EXPECT_EQ(MediaTypeFrameSize(cameras[0].types[1]), QSize(1280, 720));
    EXPECT_TRUE(cameras[0].stillButton);
    EXPECT_EQ(cameras[0].fps, 15);
    EXPECT_EQ(cameras[1].name, QStringLiteral("Synthetic Camera 2"));
    EXPECT_EQ(cameras[1].types[0].encoding(), QStringLiteral("YUY2"));
    EXPECT_FALSE(cameras[1].stillButton);

    EXPECT_EQ(SyntheticCamera::parse(QStringLiteral("0")).size(), 0);
    const auto defaults = SyntheticCamera::parse(QStringLiteral("2"));
    ASSERT_EQ(defaults.size(), 2);
    EXPECT_EQ(defaults[0].types.size(), 6);
    // A type that cannot be read is skipped, the rest of the camera stays.
    EXPECT_EQ(SyntheticCamera::parse(QStringLiteral("640x480,HEVC 1x1,foo")).value(0).types.size(), 1);
}

TEST_F(StillButtonTest, FootSwitchKeyTakesOneSnapshotPerPressHoweverLongItIsHeld)
{
    const QString device = home.file(QStringLiteral("footswitch"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(device).constData(), 0600), 0);
    const int writer = ::open(QFile::encodeName(device).constData(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    WriteConfigString(QStringLiteral("trigger"), QStringLiteral("device"), device);
    WriteConfigString(QStringLiteral("trigger"), QStringLiteral("key"), QStringLiteral("KEY_F9"));
    graph->openFootSwitch();
    QSignalSpy snapshots(graph.get(), &CaptureGraph::snapshotRequested);

    // Held: a press, the keyboard's repeats, the release; other keys (the camera's too) do nothing.
    const input_event events[] = {{{}, EV_KEY, KEY_F9, 1}, {{}, EV_KEY, KEY_F9, 2}, {{}, EV_KEY, KEY_F9, 2},
                                  {{}, EV_KEY, KEY_F9, 2}, {{}, EV_KEY, KEY_F9, 0}, {{}, EV_KEY, KEY_CAMERA, 1},
                                  {{}, EV_KEY, KEY_F8, 1}, {{}, EV_KEY, KEY_F9, 1}, {{}, EV_KEY, KEY_F9, 0}};
    ASSERT_EQ(::write(writer, events, sizeof events), ssize_t(sizeof events));
    ASSERT_TRUE(waitUntil([&] { return snapshots.size() >= 2; }));
    waitUntil([] { return false; }, 200);
    EXPECT_EQ(snapshots.size(), 2);
    graph.reset();
    ::close(writer);

    EXPECT_EQ(FootSwitch::keyCode(QStringLiteral("KEY_F9")), KEY_F9);
    EXPECT_EQ(FootSwitch::keyCode(QStringLiteral("67")), 67);
    EXPECT_EQ(FootSwitch::keyCode(QStringLiteral("KEY_NONSENSE")), -1);
}
