#pragma once

#include "capture/GstHandles.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <utility>

class QSocketNotifier;

// Watches a GStreamer bus (a pipeline's or the device monitor's) from the window thread's event
// loop: a socket notifier on the bus's poll descriptor, each message handed to `handler` on the
// window thread. Destroying the watch ends the deliveries, so the messages of a pipeline already
// torn down reach nobody. The handler must not destroy its own watch (queue that instead).
class BusWatch : public QObject {
    Q_OBJECT

public:
    using Handler = std::function<void(GstMessage *message)>;

    BusWatch(GstBus *bus, Handler handler, QObject *parent = nullptr); // takes a new reference
    ~BusWatch() override;

    // Takes the bus's messages as they come, handing each to the handler, until `done` holds
    // or `timeout` passed; false on the timeout. For a stop that must end with a finished
    // recording (bounded: it blocks the window thread at most `timeout`).
    bool waitFor(const std::function<bool()> &done, GstClockTime timeout);

    // The text and code of an error message.
    static std::pair<QString, int> errorOf(GstMessage *message);

private:
    void drain();

    GstBusHandle m_bus;
    Handler m_handler;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
