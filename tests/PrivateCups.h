#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// A cupsd of the tests' own with CUPS-PDF queues: configuration, spool, logs and the PDF output
// under one folder of the build, listening on a free loopback port. Clients reach it through
// CUPS_SERVER (server()); the machine's own CUPS is never used. cupsd and the CUPS-PDF backend
// need root; where they cannot run, start() says why and the test skips.
//
// CUPS-PDF reads its configuration from a fixed folder (/etc/cups). The private server's
// backend folder holds a copy of the backend whose built-in folder is changed to "." and a
// wrapper that runs it in the private configuration folder, so its output folder, spool and log
// are ours too.
class PrivateCups {
public:
    explicit PrivateCups(const QString &folder);
    ~PrivateCups();

    bool start();
    QString whyNot() const { return m_whyNot; }
    QString server() const; // "127.0.0.1:PORT"

    // A CUPS-PDF queue, accepting jobs; made the default destination when asked.
    bool addPdfQueue(const QString &name, bool makeDefault);
    // Sets a default of the queue, e.g. "print-color-mode-default=monochrome" (lpadmin -o).
    bool setQueueDefault(const QString &name, const QString &option);
    // The queue refuses new jobs with that reason (cupsreject).
    bool rejectJobs(const QString &name, const QString &reason);

    // The PDF files CUPS-PDF has written, complete ones only (their job is finished).
    QStringList pdfFiles() const;
    // Waits (bounded) until count PDF files have been written completely.
    bool waitForPdfs(int count, int timeoutMs);
    QString errorLog() const;

private:
    bool run(const QString &program, const QStringList &arguments);

    QString m_folder;
    quint16 m_port = 0;
    QProcess m_cupsd;
    QString m_whyNot;
};
