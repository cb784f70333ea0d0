#include "core/TerminationSignal.h"

#include <QSocketNotifier>

#include <sys/socket.h>
#include <unistd.h>

#include <csignal>

namespace {
// The handler may only write to a descriptor; the event loop reads the other end.
int g_signalPair[2] = {-1, -1};

void onTerminate(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalPair[0], &byte, 1);
}
} // namespace

TerminationSignal::TerminationSignal(QObject *parent)
    : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPair) != 0)
        return;
    m_notifier = new QSocketNotifier(g_signalPair[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignal::drain);

    struct sigaction action = {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
}

TerminationSignal::~TerminationSignal()
{
    ::signal(SIGTERM, SIG_DFL);
    delete m_notifier;
    for (int &fd : g_signalPair) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void TerminationSignal::drain()
{
    char buffer[16];
    [[maybe_unused]] const ssize_t read = ::read(g_signalPair[1], buffer, sizeof buffer);
    emit received();
}
