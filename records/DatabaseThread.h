#pragma once

#include "records/DatabaseEngine.h"
#include "records/OwnThread.h"

#include <QObject>
#include <QString>

#include <exception>
#include <functional>

class Database;

// A thread of its own with a Database of that thread's own, for the statements of the window's
// operations that must not hold it on a server (the save, loading a record, the pictures):
// each job runs there in the order posted, and its end reaches `context`'s thread as a queued
// call. The connection is opened at the first job and again at the next after a failed open.
// Made and destroyed on the window's thread.
class DatabaseThread {
public:
    using Job = std::function<void(Database &db)>;
    // Called on the context's thread; `failure` is what the job threw, null when it ended.
    using Done = std::function<void(std::exception_ptr failure)>;

    DatabaseThread(const DatabaseParameters &parameters, const QString &name);
    ~DatabaseThread();
    DatabaseThread(const DatabaseThread &) = delete;
    DatabaseThread &operator=(const DatabaseThread &) = delete;

    void post(Job job, QObject *context, Done done);
    // Called on `context`'s thread when the thread's connection finds the server away (true)
    // or back (false).
    void setAwayListener(QObject *context, std::function<void(bool away)> listener);

    // Runs the job here on `db` when there is no thread, then done; the same contract as post.
    static void runHere(Database &db, const Job &job, const Done &done);

private:
    class Worker;
    Worker *m_worker; // lives on m_thread
    OwnThread m_thread;
};

// Runs a job on a database thread (or on the caller's connection where there is none); `done`
// follows on the caller's thread, under the error display when it comes later.
using DatabaseRunner = std::function<void(DatabaseThread::Job job, DatabaseThread::Done done)>;
