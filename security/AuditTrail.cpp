#include "security/AuditTrail.h"

#include "records/Database.h"
#include "security/Logging.h"

#include <QDateTime>
#include <QSysInfo>

#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <chrono>

Workstation Workstation::thisComputer(const QString &aeTitle)
{
    QString user;
    if (const passwd *entry = getpwuid(geteuid()))
        user = QString::fromLocal8Bit(entry->pw_name);
    if (user.isEmpty())
        user = qEnvironmentVariable("USER");
    return Workstation{.operatorName = user, .host = QSysInfo::machineHostName(), .aeTitle = aeTitle};
}

namespace {
std::atomic<AuditTrail *> g_current{nullptr};
} // namespace

AuditTrail *AuditTrail::current()
{
    return g_current.load();
}

AuditTrail::AuditTrail(const DatabaseParameters &parameters, const Workstation &workstation,
                       const SyslogSettings &repository)
    : m_parameters(parameters)
    , m_workstation(workstation)
    , m_syslogStation(repository.enabled() ? workstation.host : QString())
    , m_forwarder(repository.enabled() ? std::make_unique<AuditForwarder>(parameters, repository, m_syslogStation)
                                       : nullptr)
{
    m_writer = std::thread([this] { run(); });
    Audit::setSink([this](Audit::Event event, const QString &patient, Audit::Outcome outcome) {
        record(event, patient, outcome);
    });
    g_current = this;
}

AuditTrail::~AuditTrail()
{
    Audit::setSink({});
    AuditTrail *self = this;
    g_current.compare_exchange_strong(self, nullptr);
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_writer.join();
}

void AuditTrail::record(Audit::Event event, const QString &patient, Audit::Outcome outcome)
{
    const Audit::Codes &codes = Audit::codes(event);
    AuditEntry entry{
        .at = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs),
        .event = QString::fromLatin1(codes.name),
        .eventId = QString::fromLatin1(codes.eventId),
        .eventType = QString::fromLatin1(codes.typeCode),
        .action = QString(QLatin1Char(codes.action)),
        .patient = patient.trimmed(),
        .outcome = static_cast<int>(outcome),
    };
    {
        const std::lock_guard lock(m_mutex);
        entry.operatorName = m_workstation.operatorName;
        entry.host = m_workstation.host;
        entry.aeTitle = m_workstation.aeTitle;
        m_queue.append(std::move(entry));
    }
    m_wake.notify_one();
}

void AuditTrail::setOperator(const QString &name)
{
    const std::lock_guard lock(m_mutex);
    m_workstation.operatorName = name;
}

QString AuditTrail::operatorName() const
{
    const std::lock_guard lock(m_mutex);
    return m_workstation.operatorName;
}

void AuditTrail::flush()
{
    std::unique_lock lock(m_mutex);
    const quint64 failures = m_failures;
    m_wake.notify_one();
    m_written.wait(lock, [this, failures] { return (m_queue.isEmpty() && !m_writing) || m_failures != failures; });
}

void AuditTrail::run()
{
    Database db;
    std::unique_lock lock(m_mutex);
    bool retrying = false;
    for (;;) {
        if (retrying)
            m_wake.wait_for(lock, std::chrono::seconds(1), [this] { return m_stopping; });
        else
            m_wake.wait(lock, [this] { return m_stopping || !m_queue.isEmpty(); });
        if (m_queue.isEmpty()) {
            if (m_stopping)
                return;
            continue;
        }
        QList<AuditEntry> batch;
        batch.swap(m_queue);
        m_writing = true;
        lock.unlock();
        bool stored = false;
        try {
            if (!db.isOpen())
                db.open(m_parameters);
            AuditStore::append(db, batch, m_syslogStation);
            stored = true;
            if (m_forwarder)
                m_forwarder->wake();
        } catch (const std::exception &failure) {
            qCWarning(lcSecurity) << "audit entries not stored yet:" << failure.what();
            db.close();
        }
        lock.lock();
        m_writing = false;
        if (!stored) {
            ++m_failures;
            if (m_stopping) {
                qCCritical(lcSecurity) << batch.size() << "audit entries lost at the end of the program";
            } else {
                // Back in front of what came meanwhile, in their order.
                m_queue = batch + m_queue;
            }
        }
        retrying = !stored && !m_stopping;
        m_written.notify_all();
    }
}
