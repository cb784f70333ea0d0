#include "app/ReportExportJob.h"

#include "core/AppError.h"
#include "core/ErrorDisplay.h"
#include "core/ProgramFolder.h"
#include "core/inifunc.h"
#include "exam/ReportFilling.h"
#include "records/Database.h"
#include "records/RecordSet.h"
#include "records/Statements.h"
#include "report/ReportRenderer.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>

#include <cstdio>
#include <cstring>

namespace {

const QString kOption = QStringLiteral("export-report");
const QString kRecordOption = QStringLiteral("record");

// The sheet's built-in captions, for a language file that lacks one.
const QHash<QString, QString> kBuiltInCaptions = {
    {QStringLiteral("lbName"), QStringLiteral("姓名")},
    {QStringLiteral("lbSex"), QStringLiteral("性别")},
    {QStringLiteral("lbAge"), QStringLiteral("年龄")},
    {QStringLiteral("lbTel"), QStringLiteral("电话")},
    {QStringLiteral("lbAddr"), QStringLiteral("地址")},
    {QStringLiteral("lbNumber"), QStringLiteral("编号")},
    {QStringLiteral("lbPic"), QStringLiteral("检查所见")},
    {QStringLiteral("lbSypmtom"), QStringLiteral("诊    断")},
    {QStringLiteral("lbTreat"), QStringLiteral("处置意见")},
    {QStringLiteral("lbDoctor"), QStringLiteral("诊断医生")},
    {QStringLiteral("lbProposer"), QStringLiteral("申请医生")},
};

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
        const auto text = [&](const QString &key) {
            return ReadProfileString(language, QStringLiteral("main"), key.trimmed(), QString());
        };

        Database db;
        db.open();
        const std::optional<Statements::Patient> patient = Statements::loadPatient(db, number);
        if (!patient)
            return fail(QStringLiteral("There is no patient with the number \"%1\".").arg(number));
        // The patient's fields stand where the sheet would show them.
        const QHash<QString, QString> fields = {
            {QStringLiteral("edtNumber"), patient->client_id}, {QStringLiteral("edtName"), patient->client_name},
            {QStringLiteral("cbSex"), patient->sex},           {QStringLiteral("edtAge"), patient->age},
            {QStringLiteral("edtTel"), patient->client_phone}, {QStringLiteral("edtAddr"), patient->address},
        };

        RecordSet records;
        ReportFillingHooks hooks;
        hooks.openExaminationRecords = [&](const QString &wanted) {
            records.open(db, wanted);
            if (records.isEmpty())
                return false;
            records.Last();
            return true;
        };
        hooks.text = text;
        hooks.askMessage = [](const QString &) { return Dialogs::Answer::No; };
        hooks.controlText = [&](const QString &control) {
            if (fields.contains(control))
                return fields.value(control);
            const QString caption = text(control + QStringLiteral(".Caption"));
            return caption.isEmpty() ? kBuiltInCaptions.value(control) : caption;
        };
        if (!hooks.openExaminationRecords(number))
            return fail(QStringLiteral("The patient \"%1\" has no examination.").arg(number));
        if (back > records.RecordCount())
            return fail(
                QStringLiteral("The patient \"%1\" has %2 examination(s); there is no number %3 from the newest.")
                    .arg(number)
                    .arg(records.RecordCount())
                    .arg(back));
        for (int i = 1; i < back; ++i)
            records.Prior();

        ReportFilling filling(records, db, hooks, ProgramFolder::file(QStringLiteral("images/")),
                              ProgramFolder::file(QStringLiteral("data/1.fr3")));
        filling.FillReport();
        const QByteArray pdf = ReportRenderer::renderToPdf(filling.report(), QStringLiteral("Report"));
        if (pdf.isEmpty())
            return fail(QStringLiteral("The report could not be drawn."));
        QSaveFile file(target);
        if (!file.open(QIODevice::WriteOnly) || file.write(pdf) != pdf.size() || !file.commit())
            return fail(QStringLiteral("The report cannot be written to %1: %2.").arg(target, file.errorString()));
    } catch (const std::exception &failure) {
        return fail(ErrorDisplay::textFor(QString::fromUtf8(failure.what())));
    }
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
