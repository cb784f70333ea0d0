#include "records/LookupThread.h"

#include "core/AppError.h"
#include "records/Database.h"
#include "records/Logging.h"

#include <QPointer>
#include <QThread>
#include <QTimer>

#include <atomic>

class LookupThread::Worker : public QObject {
public:
    explicit Worker(const DatabaseParameters &parameters)
        : m_parameters(parameters)
    {
    }

    // The thread's own connection, opened at its first look-up and again after a failed open
    // (a failed open counts as the server away); once open it opens itself again after a failure.
    const Database &db()
    {
        if (!m_opened && !open())
            throw AppError(QString::fromLatin1(Database::kAwayMessage));
        return m_db;
    }

    // Opens the thread's connection; when it cannot, the server counts as away and the opening
    // is tried again in the background, 0.25 s later and then with doubling pauses up to 8 s.
    bool open()
    {
        m_db.setAwayListener([this](bool away) { tell(away); });
        try {
            m_db.open(m_parameters);
        } catch (const AppError &failure) {
            qCInfo(lcRecords) << "the look-ups cannot open the database:" << failure.message();
            tell(true);
            if (!m_retrying) {
                m_retrying = true;
                m_pause = 250;
                retryLater();
            }
            return false;
        }
        m_opened = true;
        m_retrying = false;
        tell(false);
        return true;
    }

    void retryLater()
    {
        QTimer::singleShot(m_pause, this, [this] {
            if (m_opened || open())
                return;
            m_pause = std::min(m_pause * 2, 8000);
            retryLater();
        });
    }

    // The server's state to the listener on its own thread, when it changed.
    void tell(bool away)
    {
        if (away == m_toldAway)
            return;
        m_toldAway = away;
        m_away.tell(away);
    }

    DatabaseParameters m_parameters;
    Database m_db;
    bool m_opened = false;
    bool m_retrying = false;
    int m_pause = 250; // ms
    bool m_toldAway = false;
    AwayListener m_away; // set before the first look-up
    // The newest request of each kind, written on the window's thread.
    std::atomic<quint64> latestNumber{0};
    std::atomic<quint64> latestGrid{0};
};

// A look-up waiting on a hung server ends within its bound; closing does not wait for it.
LookupThread::LookupThread(const DatabaseParameters &parameters)
    : m_worker(new Worker(parameters))
    , m_thread(m_worker, QStringLiteral("look-ups"), "a look-up")
{
}

LookupThread::~LookupThread() = default;

void LookupThread::setAwayListener(QObject *context, std::function<void(bool)> listener)
{
    AwayListener::set(m_worker, m_worker->m_away, context, std::move(listener));
}

void LookupThread::lookUpNumber(quint64 serial, const QString &typed, int pageSize, QObject *context,
                                std::function<void(const NumberAnswer &)> answer)
{
    m_worker->latestNumber = serial;
    QMetaObject::invokeMethod(
        m_worker,
        [worker = m_worker, serial, typed, pageSize, context = QPointer<QObject>(context), answer = std::move(answer)] {
            if (serial != worker->latestNumber)
                return;
            NumberAnswer result;
            try {
                const Database &db = worker->db();
                result.page = Statements::numbersStartingWith(db, typed, pageSize);
                result.exactCount = Statements::exactNumberCount(db, typed);
                if (result.exactCount == 1)
                    result.patient = Statements::loadPatient(db, typed);
            } catch (const AppError &failure) {
                qCInfo(lcRecords) << "the number look-up failed:" << failure.message();
                result = NumberAnswer{.failed = true};
            }
            if (context)
                QMetaObject::invokeMethod(
                    context, [answer, result] { answer(result); }, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void LookupThread::readNumberPage(const QString &typed, const QString &afterKey, qint64 afterRow, int pageSize,
                                  QObject *context, std::function<void(std::optional<Statements::NumberPage>)> answer)
{
    QMetaObject::invokeMethod(
        m_worker,
        [worker = m_worker, typed, afterKey, afterRow, pageSize, context = QPointer<QObject>(context),
         answer = std::move(answer)] {
            std::optional<Statements::NumberPage> page;
            try {
                page = Statements::numbersStartingWith(worker->db(), typed, pageSize, afterKey, afterRow);
            } catch (const AppError &failure) {
                qCInfo(lcRecords) << "the number list ends early:" << failure.message();
            }
            if (context)
                QMetaObject::invokeMethod(
                    context, [answer, page] { answer(page); }, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void LookupThread::searchGrid(quint64 serial, Statements::SearchField field, const QString &typed, QObject *context,
                              std::function<void(const GridAnswer &)> answer)
{
    m_worker->latestGrid = serial;
    QMetaObject::invokeMethod(
        m_worker,
        [worker = m_worker, serial, field, typed, context = QPointer<QObject>(context), answer = std::move(answer)] {
            if (serial != worker->latestGrid)
                return;
            GridAnswer result;
            try {
                result.rows = Statements::searchPatients(worker->db(), field, typed);
            } catch (const AppError &failure) {
                qCInfo(lcRecords) << "the patient search failed:" << failure.message();
                result = GridAnswer{.failed = true};
            }
            if (context)
                QMetaObject::invokeMethod(
                    context, [answer, result] { answer(result); }, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}
