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

    void tell(bool away) { m_away.tell(away); }

    DatabaseParameters m_parameters;
    Database m_db;
    AwayListener m_away;
};

// A job waiting on a hung server ends within its bound, and a save then stores nothing; closing
// does not wait for it.
DatabaseThread::DatabaseThread(const DatabaseParameters &parameters, const QString &name)
    : m_worker(new Worker(parameters))
    , m_thread(m_worker, name, "a database job")
{
}

DatabaseThread::~DatabaseThread() = default;

void DatabaseThread::setAwayListener(QObject *context, std::function<void(bool)> listener)
{
    AwayListener::set(m_worker, m_worker->m_away, context, std::move(listener));
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
