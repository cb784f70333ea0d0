#include "records/OwnThread.h"

#include "records/Logging.h"

#include <QThread>

OwnThread::OwnThread(QObject *worker, const QString &name, const char *stillWaiting)
    : m_worker(worker)
    , m_thread(new QThread)
    , m_stillWaiting(stillWaiting)
{
    m_thread->setObjectName(name);
    worker->moveToThread(m_thread);
    QObject::connect(m_thread, &QThread::finished, worker, &QObject::deleteLater);
    m_thread->start();
}

OwnThread::~OwnThread()
{
    // Queued behind the jobs posted before, so none of them is dropped.
    QMetaObject::invokeMethod(
        m_worker, [thread = m_thread] { thread->quit(); }, Qt::QueuedConnection);
    if (m_thread->wait(2000)) {
        delete m_thread;
        return;
    }
    qCWarning(lcRecords).noquote() << m_stillWaiting << "still waits for the server; its thread ends by itself";
    QObject::connect(m_thread, &QThread::finished, m_thread, &QObject::deleteLater);
}

void AwayListener::tell(bool away) const
{
    if (listener && context)
        QMetaObject::invokeMethod(
            context, [listener = listener, away] { listener(away); }, Qt::QueuedConnection);
}

void AwayListener::set(QObject *worker, AwayListener &target, QObject *context, std::function<void(bool)> listener)
{
    QMetaObject::invokeMethod(
        worker,
        [&target, context = QPointer<QObject>(context), listener = std::move(listener)] {
            target = {.context = context, .listener = listener};
        },
        Qt::QueuedConnection);
}
