// The window's work lands in the audit trail: start, the patient opened by the number typed,
// the examination saved, the report previewed, and the stop.
#include "WindowFixture.h"
#include "records/AuditStore.h"
#include "report/ReportPreview.h"

#include <QPlainTextEdit>
#include <QPushButton>

namespace {

using AuditWindow = WindowTest;

TEST_F(AuditWindow, recordsEachAccessToThePatientsDataInOrder)
{
    addPatient(QStringLiteral("10001"), QStringLiteral("Ann Lee"));
    home.installReportTemplate();
    WindowTest::typeInto(window->edtNumber, QStringLiteral("10001"));
    ASSERT_EQ(window->edtName->text(), QStringLiteral("Ann Lee"));
    window->symptomLines[0]->lineEdit()->setText(QStringLiteral("Gastritis"));
    window->treatLines[0]->lineEdit()->setText(QStringLiteral("Rest"));
    window->cbTitle->lineEdit()->setText(QStringLiteral("Gastroscopy"));
    window->edtDoctor->setText(QStringLiteral("Dr. Wu"));
    QTest::mouseClick(window->btnGenReport, Qt::LeftButton);
    ASSERT_EQ(recordRows(QStringLiteral("10001")), 1) << dialogs.texts().join(u'|').toStdString();
    QTest::mouseClick(window->btnPrevReport, Qt::LeftButton);
    for (QWidget *top : QApplication::topLevelWidgets()) {
        if (qobject_cast<ReportPreview *>(top))
            top->close();
    }
    window->close();

    Database trail;
    trail.open();
    QStringList events;
    AuditStore::list(trail, {}, [&events](const AuditEntry &entry) {
        events.append(entry.event + u' ' + entry.patient);
        EXPECT_FALSE(entry.operatorName.isEmpty()); // the desktop user, with login off
        EXPECT_EQ(entry.aeTitle, QStringLiteral("EXAMSTATION"));
    });
    // The reload after the save fills the sheet from the record, not the patient fields again.
    EXPECT_EQ(events,
              QStringList({"application-start ", "patient-opened 10001", "examination-saved 10001",
                           "report-previewed 10001", "application-stop "}));
    EXPECT_TRUE(AuditStore::verify(trail).intact);
}

} // namespace
