#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <memory>

class QThread;
class ReportTemplate;

// Prints reports on CUPS's default destination without a dialog, in colour, and follows each
// job in CUPS until it is completed, refused, aborted or cancelled. The page is drawn on the
// caller's (window) thread; the hand-off and the following run on a worker thread per job,
// which reports back through queued signals. No box is shown here: failures go to the caller.
class ReportPrinter : public QObject {
    Q_OBJECT

public:
    explicit ReportPrinter(QObject *parent = nullptr);
    // Stops following the jobs still open (they go on printing) and waits for the workers.
    ~ReportPrinter() override;

    // Starts printing; returns the ticket that the signals of this job carry.
    int print(const ReportTemplate &report, const QString &jobName);
    // The same for a page already drawn as PDF.
    int printPdf(const QByteArray &pdf, const QString &jobName);

    // Jobs whose fate is still being followed.
    int jobsFollowed() const { return m_workers.size(); }

signals:
    // CUPS took the job (job id in CUPS).
    void handedOver(int ticket, int jobId);
    // CUPS refused the job at the hand-off, or aborted or cancelled it later; reason is CUPS's.
    void failed(int ticket, const QString &reason);
    // CUPS finished the job.
    void completed(int ticket, int jobId);

private:
    int m_nextTicket = 1;
    // Shared with the workers: set when they are to stop following.
    std::shared_ptr<std::atomic_bool> m_stopping;
    QList<QThread *> m_workers;
};
