#pragma once

#include <QPointer>
#include <QString>

#include <functional>

class QObject;
class QThread;

// A worker object moved to a thread of its own, started at once and deleted on that thread when
// it ends. Made and released on the owner's thread: the release lets the jobs posted before it
// run and waits up to 2 s for them; a job still waiting on a hung server (each ends within its
// bound) keeps the thread, which is released when it ends by itself.
class OwnThread {
public:
    // `stillWaiting` names in the log what a release that does not wait was waiting for.
    OwnThread(QObject *worker, const QString &name, const char *stillWaiting);
    ~OwnThread();
    OwnThread(const OwnThread &) = delete;
    OwnThread &operator=(const OwnThread &) = delete;

private:
    QObject *m_worker; // deleted on its thread after the thread ends
    QThread *m_thread;
    const char *m_stillWaiting;
};

// Whom a worker tells when its connection finds the server away (true) or back (false): a
// listener called on its context's thread, set and read on the worker's thread.
struct AwayListener {
    QPointer<QObject> context;
    std::function<void(bool away)> listener;

    void tell(bool away) const;
    // Sets `target`, a member of `worker`, on the worker's thread.
    static void set(QObject *worker, AwayListener &target, QObject *context, std::function<void(bool)> listener);
};
