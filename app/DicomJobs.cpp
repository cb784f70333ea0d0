#include "app/DicomJobs.h"

#include "core/AppError.h"
#include "core/ProgramFolder.h"
#include "core/inifunc.h"
#include "dicom/DicomPeer.h"
#include "exam/DicomOutbox.h"
#include "records/Database.h"

#include <QTextStream>

#include <cstdio>

namespace {

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

} // namespace

namespace DicomJobs {

int printOutbox()
{
    try {
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
            else if (entry.attempts > 0)
                line += QStringLiteral("\t%1 attempts, next %2\t%3")
                            .arg(entry.attempts)
                            .arg(entry.nextTry.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), entry.lastError);
            out() << line << Qt::endl;
        }
        const DicomOutbox::Summary summary = DicomOutbox::summary(db);
        out() << QStringLiteral("%1 instances, %2 waiting, %3 of them failed before")
                     .arg(entries.size())
                     .arg(summary.waiting)
                     .arg(summary.failing)
              << Qt::endl;
        return 0;
    } catch (const AppError &error) {
        err() << error.message() << Qt::endl;
        return 1;
    }
}

int sendStoredExaminations(const QString &which)
{
    try {
        SetConfigFolder(ProgramFolder::path());
        const DicomSettings settings = DicomSettings::read();
        if (!settings.pacs.enabled()) {
            err() << "No PACS is configured: set pacs_host (and pacs_port, pacs_ae) in section [dicom] of "
                  << ConfigFilePath() << Qt::endl;
            return 2;
        }
        Database db;
        db.open();
        const QString number = which.trimmed().compare(u"all", Qt::CaseInsensitive) == 0 ? QString() : which.trimmed();
        int records = 0;
        DicomOutbox::queueStoredRecords(db, number, &records);
        if (!number.isEmpty() && records == 0) {
            err() << "Patient " << number << " has no stored examination." << Qt::endl;
            return 1;
        }
        const QString language =
            ReadConfigString(QStringLiteral("language"), QStringLiteral("name"), QStringLiteral("english.ini"));
        const ReportSource report{ProgramFolder::file(QStringLiteral("images/")),
                                  ProgramFolder::file(QStringLiteral("data/1.fr3")),
                                  ProgramFolder::file(QStringLiteral("lang/") + language)};
        const DicomOutbox::Delivery delivery = DicomOutbox::deliver(db, settings.pacs, report, true);
        for (const QString &line : delivery.sent)
            out() << "sent\t" << line << Qt::endl;
        for (const QString &line : delivery.failed)
            out() << "NOT SENT\t" << line << Qt::endl;
        out() << QStringLiteral("%1 sent, %2 not sent").arg(delivery.sent.size()).arg(delivery.failed.size())
              << Qt::endl;
        return delivery.failed.isEmpty() ? 0 : 1;
    } catch (const AppError &error) {
        err() << error.message() << Qt::endl;
        return 1;
    }
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
