#include "app/ReportExportJob.h"

#include "core/AppError.h"
#include "core/Audit.h"
#include "core/ErrorDisplay.h"
#include "core/ProgramFolder.h"
#include "core/SafeFile.h"
#include "core/inifunc.h"
#include "exam/ReportPdf.h"
#include "records/Database.h"
#include "records/RecordSet.h"
#include "records/Statements.h"

#include <QCommandLineParser>
#include <QFileInfo>

namespace {

const QString kOption = QStringLiteral("export-report");
const QString kRecordOption = QStringLiteral("record");

} // namespace

namespace ReportExportJob {

int run(const QCommandLineParser &parser)
{
    const QString number = parser.value(kOption).trimmed();
    const QString target = parser.positionalArguments().value(0);
    if (target.isEmpty())
        return jobFailed(QStringLiteral("--export-report needs the PDF file to write after the patient number."),
                         JobExit::kCannotRun);
    int back = 1;
    if (parser.isSet(kRecordOption)) {
        bool ok = false;
        back = parser.value(kRecordOption).toInt(&ok);
        if (!ok || back < 1)
            return jobFailed(QStringLiteral("--record needs a whole number from 1 (the newest examination)."),
                             JobExit::kCannotRun);
    }

    try {
        SetConfigFolder(ProgramFolder::path());
        Database db;
        db.open();
        if (!Statements::loadPatient(db, number))
            return jobFailed(QStringLiteral("There is no patient with the number \"%1\".").arg(number));
        RecordSet records;
        records.open(db, number);
        if (records.isEmpty())
            return jobFailed(QStringLiteral("The patient \"%1\" has no examination.").arg(number));
        if (back > records.RecordCount())
            return jobFailed(
                QStringLiteral("The patient \"%1\" has %2 examination(s); there is no number %3 from the newest.")
                    .arg(number)
                    .arg(records.RecordCount())
                    .arg(back));
        records.Last();
        for (int i = 1; i < back; ++i)
            records.Prior();
        const QByteArray pdf =
            ReportPdf::render(db, records.asInteger(QStringLiteral("ID")), ReportSource::fromProgramFolder());
        QString reason;
        if (!SafeFile::saveWhole(target, pdf, &reason))
            return jobFailed(QStringLiteral("The report cannot be written to %1: %2.").arg(target, reason));
    } catch (const std::exception &failure) {
        return jobFailed(ErrorDisplay::textFor(QString::fromUtf8(failure.what())));
    }
    Audit::record(Audit::Event::ReportExported, number);
    jobSays(QFileInfo(target).absoluteFilePath());
    return JobExit::kDone;
}

} // namespace ReportExportJob

CommandLineJob reportExportJob()
{
    return {
        .options = {QCommandLineOption(kOption,
                                       QStringLiteral("Write the report of patient NUMBER's latest examination to "
                                                      "the PDF file given after it."),
                                       QStringLiteral("NUMBER")),
                    QCommandLineOption(kRecordOption,
                                       QStringLiteral("With --export-report: the K-th examination from the newest "
                                                      "(1 = newest)."),
                                       QStringLiteral("K"))},
        .paints = true,
        .run = &ReportExportJob::run,
    };
}
