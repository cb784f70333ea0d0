#include "exam/ReportPdf.h"

#include "core/AppError.h"
#include "core/inifunc.h"
#include "exam/ReportFilling.h"
#include "records/Database.h"
#include "records/RecordSet.h"
#include "records/Statements.h"
#include "report/ReportRenderer.h"

#include <QBuffer>
#include <QPdfWriter>

namespace ReportPdf {

QByteArray render(Database &db, qint64 contentId, const ReportSource &source)
{
    QSqlQuery owner = db.run(QStringLiteral("select client_id from t_contents where ID = :id"), {{":id", contentId}});
    if (!owner.next())
        throw AppError(QStringLiteral("Examination record %1 no longer exists.").arg(contentId));
    const QString number = owner.value(0).toString();
    owner.finish();

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
        return text(name + QStringLiteral(".Caption"));
    };
    ReportFilling filling(records, db, hooks, source.imagesFolder, source.templateFile);
    filling.FillReport();

    QByteArray pdf;
    QBuffer buffer(&pdf);
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setResolution(300);
        writer.setTitle(records.asString(QStringLiteral("title")));
        writer.setCreator(QStringLiteral("ExamStation"));
        ReportRenderer::renderToDevice(filling.report(), writer);
    }
    return pdf;
}

} // namespace ReportPdf
