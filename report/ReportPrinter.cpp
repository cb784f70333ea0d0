#include "report/ReportPrinter.h"

#include "report/ReportRenderer.h"

#include <QDeadlineTimer>
#include <QLoggingCategory>
#include <QTemporaryFile>
#include <QThread>

#include <cups/cups.h>

#include <memory>

Q_LOGGING_CATEGORY(lcReportPrinter, "examstation.report.printer")

namespace {

// How long a job's fate is followed, and how often CUPS is asked.
constexpr int kFollowSeconds = 600;
constexpr int kPollMilliseconds = 200;

struct IppDeleter {
    void operator()(ipp_t *ipp) const { ippDelete(ipp); }
};
using IppHandle = std::unique_ptr<ipp_t, IppDeleter>;

struct DestDeleter {
    void operator()(cups_dest_t *dest) const { cupsFreeDests(1, dest); }
};
using DestHandle = std::unique_ptr<cups_dest_t, DestDeleter>;

QString lastCupsError()
{
    return QString::fromUtf8(cupsLastErrorString());
}

struct JobState {
    ipp_jstate_t state = IPP_JSTATE_PENDING;
    QString reason;
};

// One Get-Job-Attributes request; nullopt-like (state 0) when CUPS did not answer.
JobState askJobState(int jobId, bool &answered)
{
    ipp_t *request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    const QByteArray uri = QByteArrayLiteral("ipp://localhost/jobs/") + QByteArray::number(jobId);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri.constData());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    static const char *const kWanted[] = {"job-state", "job-state-reasons", "job-state-message"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr, kWanted);
    const IppHandle response(cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/"));
    JobState result;
    answered = response && ippGetStatusCode(response.get()) <= IPP_STATUS_OK_EVENTS_COMPLETE;
    if (!answered)
        return result;
    if (ipp_attribute_t *state = ippFindAttribute(response.get(), "job-state", IPP_TAG_ENUM))
        result.state = ipp_jstate_t(ippGetInteger(state, 0));
    QStringList reasons;
    if (ipp_attribute_t *message = ippFindAttribute(response.get(), "job-state-message", IPP_TAG_TEXT)) {
        const QString text = QString::fromUtf8(ippGetString(message, 0, nullptr)).trimmed();
        if (!text.isEmpty())
            reasons << text;
    }
    if (ipp_attribute_t *keywords = ippFindAttribute(response.get(), "job-state-reasons", IPP_TAG_KEYWORD)) {
        for (int i = 0; i < ippGetCount(keywords); ++i) {
            const QString keyword = QString::fromUtf8(ippGetString(keywords, i, nullptr));
            if (keyword != u"none" && keyword != u"job-completed-successfully")
                reasons << keyword;
        }
    }
    result.reason = reasons.join(QStringLiteral("; "));
    return result;
}

QString stateName(ipp_jstate_t state)
{
    return state == IPP_JSTATE_CANCELED ? QStringLiteral("the job was cancelled")
                                        : QStringLiteral("the job was aborted");
}

} // namespace

ReportPrinter::ReportPrinter(QObject *parent)
    : QObject(parent)
    , m_stopping(std::make_shared<std::atomic_bool>(false))
{
}

ReportPrinter::~ReportPrinter()
{
    m_stopping->store(true);
    for (QThread *worker : std::as_const(m_workers)) {
        // A hand-off in progress ends with CUPS's own time-out at the latest.
        worker->wait();
        delete worker;
    }
}

int ReportPrinter::print(const ReportTemplate &report, const QString &jobName)
{
    return printPdf(ReportRenderer::renderToPdf(report, jobName), jobName);
}

int ReportPrinter::printPdf(const QByteArray &pdf, const QString &jobName)
{
    const int ticket = m_nextTicket++;
    const auto stopping = m_stopping;
    // Runs on the worker; every result goes back to the window's thread as a queued call.
    const auto work = [this, ticket, pdf, jobName, stopping] {
        const auto report = [this](auto emitter) { QMetaObject::invokeMethod(this, emitter, Qt::QueuedConnection); };
        const auto fail = [&](const QString &reason) {
            qCInfo(lcReportPrinter) << "job" << jobName << "failed:" << reason;
            report([this, ticket, reason] { emit failed(ticket, reason); });
        };
        if (pdf.isEmpty())
            return fail(QStringLiteral("the page could not be drawn"));

        const DestHandle dest(cupsGetNamedDest(CUPS_HTTP_DEFAULT, nullptr, nullptr));
        if (!dest) {
            const QString why = cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE
                ? lastCupsError()
                : QStringLiteral("no default printer is set up");
            return fail(why);
        }
        QTemporaryFile file;
        if (!file.open() || file.write(pdf) != pdf.size() || !file.flush())
            return fail(
                QStringLiteral("the page cannot be written to %1: %2").arg(file.fileName(), file.errorString()));

        cups_option_t *options = nullptr;
        int count = 0;
        // The queue's own default might be grey; snapshots print in colour.
        count = cupsAddOption("print-color-mode", "color", count, &options);
        count = cupsAddOption("media", "iso_a4_210x297mm", count, &options);
        const QByteArray title = jobName.toUtf8();
        const QByteArray path = QFile::encodeName(file.fileName());
        const int jobId =
            cupsPrintFile2(CUPS_HTTP_DEFAULT, dest->name, path.constData(), title.constData(), count, options);
        cupsFreeOptions(count, options);
        if (jobId <= 0)
            return fail(lastCupsError());
        qCInfo(lcReportPrinter) << "job" << jobId << "handed to" << dest->name;
        report([this, ticket, jobId] { emit handedOver(ticket, jobId); });

        // Follow the job until CUPS is done with it.
        const QDeadlineTimer deadline(kFollowSeconds * 1000);
        while (!stopping->load() && !deadline.hasExpired()) {
            bool answered = false;
            const JobState state = askJobState(jobId, answered);
            if (answered && state.state == IPP_JSTATE_COMPLETED) {
                qCInfo(lcReportPrinter) << "job" << jobId << "completed";
                return report([this, ticket, jobId] { emit completed(ticket, jobId); });
            }
            if (answered && (state.state == IPP_JSTATE_CANCELED || state.state == IPP_JSTATE_ABORTED))
                return fail(state.reason.isEmpty()
                                ? stateName(state.state)
                                : stateName(state.state) + QStringLiteral(" (") + state.reason + u')');
            for (int waited = 0; waited < kPollMilliseconds && !stopping->load(); waited += 20)
                QThread::msleep(20);
        }
        qCInfo(lcReportPrinter) << "stopped following job" << jobId;
    };
    QThread *worker = QThread::create(work);
    m_workers.append(worker);
    connect(worker, &QThread::finished, this, [this, worker] {
        if (m_workers.removeOne(worker))
            worker->deleteLater();
    });
    worker->start();
    return ticket;
}
