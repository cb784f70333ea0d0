#include "app/ReportExportJob.h"

#include "core/AppError.h"
#include "core/Audit.h"
#include "core/ErrorDisplay.h"
#include "core/ProgramFolder.h"
#include "core/inifunc.h"
#include "exam/ReportPdf.h"
#include "records/Database.h"
#include "records/RecordSet.h"
#include "records/Statements.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>

#include <cstdio>
#include <cstring>

namespace {

const QString kOption = QStringLiteral("export-report");
const QString kRecordOption = QStringLiteral("record");

int fail(const QString &message)
{
    return jobFailed(message);
}

} // namespace

namespace ReportExportJob {

int run(const QCommandLineParser &parser)
{
    const QString number = parser.value(kOption).trimmed();
    const QString target = parser.positionalArguments().value(0);
    if (target.isEmpty())
        return fail(QStringLiteral("--export-report needs the PDF file to write after the patient number."));
    int back = 1;
    if (parser.isSet(kRecordOption)) {
        bool ok = false;
        back = parser.value(kRecordOption).toInt(&ok);
        if (!ok || back < 1)
            return fail(QStringLiteral("--record needs a whole number from 1 (the newest examination)."));
    }

    try {
        SetConfigFolder(ProgramFolder::path());
        const QString language = ProgramFolder::file(
            QStringLiteral("lang/")
            + ReadConfigString(QStringLiteral("language"), QStringLiteral("name"), QStringLiteral("english.ini")));
        Database db;
        db.open();
        if (!Statements::loadPatient(db, number))
            return fail(QStringLiteral("There is no patient with the number \"%1\".").arg(number));
        RecordSet records;
        records.open(db, number);
        if (records.isEmpty())
            return fail(QStringLiteral("The patient \"%1\" has no examination.").arg(number));
        if (back > records.RecordCount())
            return fail(
                QStringLiteral("The patient \"%1\" has %2 examination(s); there is no number %3 from the newest.")
                    .arg(number)
                    .arg(records.RecordCount())
                    .arg(back));
        records.Last();
        for (int i = 1; i < back; ++i)
            records.Prior();
        const QByteArray pdf = ReportPdf::render(db, records.asInteger(QStringLiteral("ID")),
                                                 {.imagesFolder = ProgramFolder::file(QStringLiteral("images/")),
                                                  .templateFile = ProgramFolder::file(QStringLiteral("data/1.fr3")),
                                                  .languageFile = language});
        QSaveFile file(target);
        if (!file.open(QIODevice::WriteOnly) || file.write(pdf) != pdf.size() || !file.commit())
            return fail(QStringLiteral("The report cannot be written to %1: %2.").arg(target, file.errorString()));
    } catch (const std::exception &failure) {
        return fail(ErrorDisplay::textFor(QString::fromUtf8(failure.what())));
    }
    Audit::record(Audit::Event::ReportExported, number);
    std::printf("%s\n", qPrintable(QFileInfo(target).absoluteFilePath()));
    return 0;
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
