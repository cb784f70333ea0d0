#pragma once

#include "records/DatabaseEngine.h"
#include "records/OwnThread.h"
#include "records/Statements.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// The keystroke look-ups on a database server, run on a thread of their own with a Database of
// that thread's own, so the window's thread never waits on the network for them. Each request
// carries the number of its kind (number, grid); a request that a newer one of its kind passed
// before it started is skipped, and the answer reaches `context`'s thread as a queued call. A
// look-up that fails answers `failed` (the server away, or gone at that statement). Made and
// destroyed on the window's thread.
class LookupThread {
public:
    struct NumberAnswer {
        bool failed = false;
        Statements::NumberPage page;
        int exactCount = 0; // counted up to 2
        std::optional<Statements::Patient> patient; // when exactly one row holds the number
    };
    struct GridAnswer {
        bool failed = false;
        QList<QStringList> rows;
    };

    explicit LookupThread(const DatabaseParameters &parameters);
    ~LookupThread();
    LookupThread(const LookupThread &) = delete;
    LookupThread &operator=(const LookupThread &) = delete;

    // Statements 2 (the first page of `pageSize`), 3 and, for exactly one row, 1.
    void lookUpNumber(quint64 serial, const QString &typed, int pageSize, QObject *context,
                      std::function<void(const NumberAnswer &)> answer);
    // A later page of statement 2 for the number list; no page when it failed.
    void readNumberPage(const QString &typed, const QString &afterKey, qint64 afterRow, int pageSize, QObject *context,
                        std::function<void(std::optional<Statements::NumberPage>)> answer);
    // Statement 4 or 5.
    void searchGrid(quint64 serial, Statements::SearchField field, const QString &typed, QObject *context,
                    std::function<void(const GridAnswer &)> answer);
    // Called on `context`'s thread when the thread's server goes away (true) or is back.
    void setAwayListener(QObject *context, std::function<void(bool)> listener);

private:
    class Worker;
    Worker *m_worker; // lives on m_thread
    OwnThread m_thread;
};
