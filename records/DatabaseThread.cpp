#include "records/DatabaseThread.h"

#include "records/Database.h"
#include "records/Logging.h"

#include <QPointer>
#include <QThread>

class DatabaseThread::Worker : public QObject {
public:
    explicit Worker(const DatabaseParameters &parameters)
        : m_parameters(parameters)
    {
    }

    // The thread's connection, opened when it is not. A failed open leaves it closed (its jobs
    // then fail with "not open") and counts as the server away; the next job tries again.
    Database &db()
    {
        if (!m_db.isOpen()) {
            m_db.setAwayListener([this](bool away) { tell(away); });
            try {
                m_db.open(m_parameters);
            } catch (const std::exception &failure) {
                qCInfo(lcRecords) << "the database thread cannot open the database:" << failure.what();
                tell(true);
            }
        }
        return m_db;
    }

    void tell(bool away)
    {
        if (m_awayListener && m_awayContext)
            QMetaObject::invokeMethod(
                m_awayContext, [listener = m_awayListener, away] { listener(away); }, Qt::QueuedConnection);
    }

    DatabaseParameters m_parameters;
    Database m_db;
    QPointer<QObject> m_awayContext;
    std::function<void(bool)> m_awayListener;
};

DatabaseThread::DatabaseThread(const DatabaseParameters &parameters, const QString &name)
    : m_thread(new QThread)
    , m_worker(new Worker(parameters))
{
    m_thread->setObjectName(name);
    m_worker->moveToThread(m_thread);
    QObject::connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread->start();
}

DatabaseThread::~DatabaseThread()
{
    m_thread->quit();
    // A job waiting on a hung server ends within its bound, and a save then stores nothing;
    // closing does not wait for it: the thread ends on its own and is released when it does.
    if (m_thread->wait(2000)) {
        delete m_thread;
        return;
    }
    qCWarning(lcRecords) << "a database job still waits for the server; its thread ends by itself";
    QObject::connect(m_thread, &QThread::finished, m_thread, &QObject::deleteLater);
}

void DatabaseThread::setAwayListener(QObject *context, std::function<void(bool)> listener)
{
    QMetaObject::invokeMethod(
        m_worker,
        [worker = m_worker, context = QPointer<QObject>(context), listener = std::move(listener)] {
            worker->m_awayContext = context;
            worker->m_awayListener = listener;
        },
        Qt::QueuedConnection);
}

void DatabaseThread::post(Job job, QObject *context, Done done)
{
    QMetaObject::invokeMethod(
        m_worker,
        [worker = m_worker, job = std::move(job), context = QPointer<QObject>(context), done = std::move(done)] {
            std::exception_ptr failure;
            try {
                job(worker->db());
            } catch (...) {
                failure = std::current_exception();
            }
            if (context)
                QMetaObject::invokeMethod(
                    context, [done, failure] { done(failure); }, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void DatabaseThread::runHere(Database &db, const Job &job, const Done &done)
{
    std::exception_ptr failure;
    try {
        job(db);
    } catch (...) {
        failure = std::current_exception();
    }
    done(failure);
}
