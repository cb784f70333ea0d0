#pragma once

#include <QElapsedTimer>
#include <QString>

// The progress of a job that can run for minutes (--backup, --copy-database-to-server,
// --send-dicom all): "<what> <done>/<total>, about <time> left", redrawn in place on standard
// error when standard error is a terminal, and nothing at all otherwise, so cron mails and
// pipes receive only the job's report. The job's thread only.
class JobProgress {
public:
    // what names the steps ("files", "instances").
    explicit JobProgress(QString what);
    // Clears the line, so the job's last words stand alone.
    ~JobProgress();
    JobProgress(const JobProgress &) = delete;
    JobProgress &operator=(const JobProgress &) = delete;

    // `done` steps of `total` are done; redrawn at most a few times a second, and always for
    // the first and the last step.
    void show(qint64 done, qint64 total);

private:
    QString m_what;
    bool m_terminal;
    bool m_drawn = false;
    QElapsedTimer m_started;
    qint64 m_lastDrawMs = 0;
};
