#include "capture/BusWatch.h"

#include <QSocketNotifier>

BusWatch::BusWatch(GstBus *bus, Handler handler, QObject *parent)
    : QObject(parent)
    , m_bus(gstRef(bus))
    , m_handler(std::move(handler))
{
    GPollFD poll{};
    gst_bus_get_pollfd(m_bus.get(), &poll);
    m_notifier = std::make_unique<QSocketNotifier>(poll.fd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &BusWatch::drain);
}

BusWatch::~BusWatch() = default;

void BusWatch::drain()
{
    while (GstMessageHandle message{gst_bus_pop(m_bus.get())})
        m_handler(message.get());
}

bool BusWatch::waitFor(const std::function<bool()> &done, GstClockTime timeout)
{
    const GstClockTime deadline = gst_util_get_timestamp() + timeout;
    while (!done()) {
        const GstClockTime now = gst_util_get_timestamp();
        if (now >= deadline)
            return false;
        if (GstMessageHandle message{gst_bus_timed_pop(m_bus.get(), deadline - now)})
            m_handler(message.get());
    }
    return true;
}

std::pair<QString, int> BusWatch::errorOf(GstMessage *message)
{
    GError *raw = nullptr;
    gst_message_parse_error(message, &raw, nullptr);
    GErrorHandle error(raw);
    return {QString::fromUtf8(error ? error->message : ""), error ? error->code : 0};
}
