#include "capture/StillButton.h"

#include "capture/Sysfs.h"

#include <fcntl.h>
#include <linux/input.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

StillButton::StillButton(int fd, std::function<void()> onPress, QList<int> keys)
    : m_fd(fd)
    , m_onPress(std::move(onPress))
    , m_keys(keys.isEmpty() ? QList<int>{KEY_CAMERA, BTN_0} : std::move(keys))
{
    if (::pipe2(m_wake, O_CLOEXEC) != 0)
        m_wake[0] = m_wake[1] = -1;
    m_thread = std::thread([this] { run(); });
}

StillButton::~StillButton()
{
    if (m_wake[1] >= 0) {
        const char stop = 'q';
        [[maybe_unused]] ssize_t written = ::write(m_wake[1], &stop, 1);
    }
    if (m_thread.joinable())
        m_thread.join();
    for (int fd : {m_fd, m_wake[0], m_wake[1]})
        if (fd >= 0)
            ::close(fd);
}

void StillButton::run()
{
    pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
    // Event records may arrive split across reads when the source is a pipe.
    input_event event{};
    size_t filled = 0;
    for (;;) {
        const int ready = ::poll(fds, m_wake[0] >= 0 ? 2 : 1, -1);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents)
            return;
        if (!(fds[0].revents & POLLIN))
            return; // the device went away (camera unplugged): no more presses
        const ssize_t got = ::read(m_fd, reinterpret_cast<char *>(&event) + filled, sizeof event - filled);
        if (got <= 0) {
            if (got < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            return;
        }
        filled += size_t(got);
        if (filled < sizeof event)
            continue;
        filled = 0;
        // A press only; the release and the auto-repeat of a held button take no snapshot.
        if (event.type == EV_KEY && event.value == 1 && m_keys.contains(event.code))
            m_onPress();
    }
}

QString StillButton::findInputDevice(const QString &videoDevicePath, const QString &sysfsRoot)
{
    const QString usbDevice = Sysfs::usbDeviceOf(videoDevicePath, sysfsRoot);
    if (usbDevice.isEmpty())
        return {};
    for (const Sysfs::InputEvent &event : Sysfs::inputEvents(sysfsRoot))
        if (event.device.startsWith(usbDevice + u'/'))
            return QStringLiteral("/dev/input/") + event.name;
    return {};
}
