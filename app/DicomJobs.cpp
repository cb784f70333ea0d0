#include "app/DicomJobs.h"

#include "app/JobProgress.h"
#include "core/AppError.h"
#include "core/ProgramFolder.h"
#include "core/inifunc.h"
#include "dicom/DicomPeer.h"
#include "dicom/EchoClient.h"
#include "exam/DicomOutbox.h"
#include "exam/ReportPdf.h"
#include "records/Database.h"

namespace DicomJobs {

int printOutbox()
{
    SetConfigFolder(ProgramFolder::path());
    Database db;
    db.open();
    const QList<DicomOutbox::Entry> entries = DicomOutbox::entries(db);
    for (const DicomOutbox::Entry &entry : entries) {
        const QString what =
            entry.kind == u"report" ? QStringLiteral("report") : QStringLiteral("picture %1").arg(entry.slot);
        QString line = QStringLiteral("%1\tpatient %2\trecord %3\t%4\t%5")
                           .arg(entry.state, entry.patientNumber)
                           .arg(entry.contentId)
                           .arg(what, entry.sopUid);
        if (entry.state == u"sent")
            line += QStringLiteral("\tsent %1").arg(entry.sentAt);
        if (entry.commitment == u"failed")
            line += QStringLiteral("\tfailed (failure reason %1)").arg(entry.commitFailure, 4, 16, QLatin1Char('0'));
        else if (entry.commitment == u"pending")
            line += QStringLiteral("\tcommitment asked");
        else if (!entry.commitment.isEmpty())
            line += u'\t' + entry.commitment;
        else if (entry.attempts > 0)
            line += QStringLiteral("\t%1 attempts, next %2\t%3")
                        .arg(entry.attempts)
                        .arg(entry.nextTry.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), entry.lastError);
        jobSays(line);
    }
    const QList<OutboxStore::Step> steps = DicomOutbox::steps(db);
    for (const OutboxStore::Step &step : steps) {
        QString line =
            QStringLiteral("%1\tprocedure step %2\t%3").arg(step.state, step.stepUid, DicomOutbox::stepStatus(step));
        if (step.contentId > 0)
            line += QStringLiteral("\trecord %1").arg(step.contentId);
        if (step.state == u"sent")
            line += QStringLiteral("\tsent %1").arg(step.sentAt);
        else if (step.attempts > 0)
            line += QStringLiteral("\t%1 attempts, next %2\t%3")
                        .arg(step.attempts)
                        .arg(step.nextTry.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), step.lastError);
        jobSays(line);
    }
    const DicomOutbox::Summary summary = DicomOutbox::summary(db, DicomSettings::read().commit);
    jobSays(QStringLiteral("%1 instances and %2 procedure step messages, %3 waiting, %4 of them failed before")
                .arg(entries.size())
                .arg(steps.size())
                .arg(summary.waiting)
                .arg(summary.failing));
    return JobExit::kDone;
}

int sendStoredExaminations(const QString &which)
{
    SetConfigFolder(ProgramFolder::path());
    const DicomSettings settings = DicomSettings::read();
    if (!settings.pacs.enabled())
        return jobFailed(QStringLiteral("No PACS is configured: set pacs_host (and pacs_port, pacs_ae) in section "
                                        "[dicom] of %1.")
                             .arg(ConfigFilePath()),
                         JobExit::kCannotRun);
    Database db;
    db.open();
    const QString number = which.trimmed().compare(u"all", Qt::CaseInsensitive) == 0 ? QString() : which.trimmed();
    int records = 0;
    DicomOutbox::queueStoredRecords(db, number, &records);
    if (!number.isEmpty() && records == 0)
        return jobFailed(QStringLiteral("Patient %1 has no stored examination.").arg(number));
    JobProgress progress(QStringLiteral("instances"));
    const DicomOutbox::Delivery delivery =
        DicomOutbox::deliver(db, settings.pacs, ReportSource::fromProgramFolder(), true, nullptr,
                             [&progress](int done, int total) { progress.show(done, total); });
    for (const QString &line : delivery.sent)
        jobSays(QStringLiteral("sent\t") + line);
    for (const QString &line : delivery.failed)
        jobSays(QStringLiteral("NOT SENT\t") + line);
    jobSays(QStringLiteral("%1 sent, %2 not sent").arg(delivery.sent.size()).arg(delivery.failed.size()));
    if (!delivery.failed.isEmpty())
        return jobFailed(QStringLiteral("%1 instance(s) not sent; they stay in the outbox for the next run.")
                             .arg(delivery.failed.size()),
                         JobExit::kPartly);
    return JobExit::kDone;
}

int echoPeers()
{
    SetConfigFolder(ProgramFolder::path());
    const DicomSettings settings = DicomSettings::read();
    // The station's own listener is called as the PACS calls it, to see it answer from outside.
    const QList<std::pair<QString, DicomPeer>> peers = {{QStringLiteral("PACS"), settings.pacs},
                                                        {QStringLiteral("worklist"), settings.worklist},
                                                        {QStringLiteral("listener"), settings.listener}};
    int tried = 0;
    int failed = 0;
    for (const auto &[role, peer] : peers) {
        if (!peer.enabled())
            continue;
        ++tried;
        const QString who = QStringLiteral("%1	%2 at %3:%4").arg(role, peer.calledAe, peer.host).arg(peer.port);
        try {
            jobSays(QStringLiteral("%1	ok	%2 ms").arg(who).arg(EchoClient::echo(peer, role)));
        } catch (const AppError &error) {
            ++failed;
            jobSays(QStringLiteral("%1	FAILED	%2").arg(who, error.message()));
        }
    }
    if (tried == 0)
        return jobFailed(QStringLiteral("No DICOM partner is configured: set pacs_host or worklist_host in section "
                                        "[dicom] of %1.")
                             .arg(ConfigFilePath()),
                         JobExit::kCannotRun);
    if (failed > 0)
        return jobFailed(QStringLiteral("%1 of %2 DICOM partner(s) did not answer the C-ECHO.").arg(failed).arg(tried));
    return JobExit::kDone;
}

} // namespace DicomJobs

CommandLineJob outboxJob()
{
    return {
        .options = {QCommandLineOption(QStringLiteral("outbox"), QStringLiteral("Print the PACS outbox and exit."))},
        .paints = false,
        .run = [](const QCommandLineParser &) { return DicomJobs::printOutbox(); },
    };
}

CommandLineJob sendDicomJob()
{
    return {
        .options = {QCommandLineOption(
            QStringLiteral("send-dicom"),
            QStringLiteral("Send the stored examinations of patient NUMBER (or all) to the PACS and exit."),
            QStringLiteral("NUMBER|all"))},
        .paints = true,
        .run =
            [](const QCommandLineParser &parser) {
                return DicomJobs::sendStoredExaminations(parser.value(QStringLiteral("send-dicom")));
            },
    };
}

CommandLineJob dicomEchoJob()
{
    return {
        .options = {QCommandLineOption(QStringLiteral("dicom-echo"),
                                       QStringLiteral("Check the connection to every configured DICOM partner (C-ECHO) "
                                                      "and exit."))},
        .paints = false,
        .run = [](const QCommandLineParser &) { return DicomJobs::echoPeers(); },
    };
}
