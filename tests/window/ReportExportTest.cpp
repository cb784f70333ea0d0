// The command-line PDF export, run as a clinic's script runs it: no display, no window.
#include "TestHome.h"
#include "records/Database.h"
#include "records/Statements.h"

#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

class ReportExport : public ::testing::Test {
protected:
    void SetUp() override
    {
        home.installLanguageFiles();
        home.installReportTemplate();
        Database db;
        db.open(home.file(QStringLiteral("data/data.db")));
        Statements::insertPatient(db,
                                  {QStringLiteral("10023"), QStringLiteral("Zhang Wei"), QStringLiteral("男"),
                                   QStringLiteral("45"), QStringLiteral("555"), QStringLiteral("Road 1")});
        for (const char *title : {"older examination", "newest examination"}) {
            Statements::ExamRecord record;
            record.client_id = QStringLiteral("10023");
            record.title = QLatin1String(title);
            record.symptom5 = QStringLiteral("检查所见第一行 findings line one");
            record.printtime = QDateTime(QDate(2024, 3, 4), QTime(5, 6, 7));
            Statements::insertExamRecord(db, record);
        }
    }

    // Runs the program without a display; exit status and standard error.
    std::pair<int, QString> exportReport(const QStringList &arguments)
    {
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QLatin1String(name));
        if (!environment.contains(QStringLiteral("LSAN_OPTIONS")))
            environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(EXAMSTATION_BINARY),
                      QStringList{QStringLiteral("--home"), home.path(), QStringLiteral("--export-report")}
                          + arguments);
        if (!program.waitForFinished(60000))
            return {-1, QStringLiteral("did not finish")};
        return {program.exitCode(), QString::fromLocal8Bit(program.readAllStandardError())};
    }

    static QString textOf(const QString &pdf)
    {
        QProcess pdftotext;
        pdftotext.start(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
        pdftotext.waitForFinished(30000);
        return QString::fromUtf8(pdftotext.readAllStandardOutput());
    }

    TestHome home;
};

TEST_F(ReportExport, writesTheNewestOrAnOlderExaminationAsSearchablePdf)
{
    if (QProcess::execute(QStringLiteral("pdftotext"), {QStringLiteral("-v")}) < 0)
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    const QString newest = home.file(QStringLiteral("newest.pdf"));
    const auto [status, errors] = exportReport({QStringLiteral("10023"), newest});
    ASSERT_EQ(status, 0) << errors.toStdString();
    const QString text = textOf(newest);
    EXPECT_TRUE(text.contains(QStringLiteral("Zhang Wei")) && text.contains(QStringLiteral("10023"))
                && text.contains(QStringLiteral("newest examination"))
                && text.contains(QStringLiteral("findings line one")))
        << text.toStdString();

    const QString older = home.file(QStringLiteral("older.pdf"));
    ASSERT_EQ(exportReport({QStringLiteral("10023"), older, QStringLiteral("--record"), QStringLiteral("2")}).first, 0);
    EXPECT_TRUE(textOf(older).contains(QStringLiteral("older examination")));
}

TEST_F(ReportExport, failsClearlyForAnUnknownNumberOrAnUnwritableFile)
{
    const auto [unknown, unknownSays] = exportReport({QStringLiteral("99999"), home.file(QStringLiteral("x.pdf"))});
    EXPECT_NE(unknown, 0);
    EXPECT_TRUE(unknownSays.contains(QStringLiteral("no patient with the number \"99999\"")))
        << unknownSays.toStdString();
    EXPECT_FALSE(QFile::exists(home.file(QStringLiteral("x.pdf"))));

    const auto [unwritable, unwritableSays] =
        exportReport({QStringLiteral("10023"), home.file(QStringLiteral("no-such-folder/report.pdf"))});
    EXPECT_NE(unwritable, 0);
    EXPECT_TRUE(unwritableSays.contains(QStringLiteral("cannot be written"))) << unwritableSays.toStdString();
}

} // namespace
