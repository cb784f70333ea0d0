#include "exam/ReportPdf.h"

#include "core/AppError.h"
#include "core/ProgramFolder.h"
#include "core/inifunc.h"
#include "exam/ReportFilling.h"
#include "records/Database.h"
#include "records/RecordSet.h"
#include "records/Statements.h"
#include "report/ReportRenderer.h"

#include <QHash>

namespace {

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

} // namespace

namespace ReportPdf {

QByteArray render(Database &db, qint64 contentId, const ReportSource &source)
{
    const std::optional<Statements::ExamRecord> stored = Statements::loadExamRecord(db, contentId);
    if (!stored)
        throw AppError(QStringLiteral("Examination record %1 no longer exists.").arg(contentId));
    const QString number = stored->client_id;

    RecordSet records;
    records.open(db, number);
    while (!records.Eof() && records.asInteger(QStringLiteral("ID")) != contentId)
        records.Next();
    if (records.Eof())
        throw AppError(QStringLiteral("Examination record %1 no longer exists.").arg(contentId));
    const Statements::Patient patient = Statements::loadPatient(db, number).value_or(Statements::Patient{});

    const auto text = [&source](const QString &key) {
        return source.languageFile.isEmpty()
            ? QString()
            : ReadProfileString(source.languageFile, QStringLiteral("main"), key.trimmed(), QString());
    };
    ReportFillingHooks hooks;
    hooks.openExaminationRecords = [](const QString &) { return true; };
    hooks.text = text;
    hooks.askMessage = [](const QString &) { return Dialogs::Answer::No; };
    // The sheet's captions as the language file gives them, the patient's fields as stored.
    hooks.controlText = [&](const QString &name) {
        if (name == u"edtNumber")
            return patient.client_id;
        if (name == u"edtName")
            return patient.client_name;
        if (name == u"cbSex")
            return patient.sex;
        if (name == u"edtAge")
            return patient.age;
        if (name == u"edtTel")
            return patient.client_phone;
        if (name == u"edtAddr")
            return patient.address;
        const QString caption = text(name + QStringLiteral(".Caption"));
        return caption.isEmpty() ? kBuiltInCaptions.value(name) : caption;
    };
    ReportFilling filling(records, db, hooks, source.imagesFolder, source.templateFile);
    filling.FillReport();

    // The report engine's own page: searchable text, pictures at full resolution.
    const QByteArray pdf = ReportRenderer::renderToPdf(filling.report(), QStringLiteral("Report"));
    if (pdf.isEmpty())
        throw AppError(QStringLiteral("The report of examination record %1 could not be drawn.").arg(contentId));
    return pdf;
}

} // namespace ReportPdf

ReportSource ReportSource::fromProgramFolder()
{
    QString language;
    OpenConfiguredLanguageFile(&language);
    return {.imagesFolder = ProgramFolder::file(QStringLiteral("images/")),
            .templateFile = ProgramFolder::file(QStringLiteral("data/1.fr3")),
            .languageFile = language};
}
