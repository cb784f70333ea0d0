// Printing from the window through a real CUPS server of the tests' own (a private cupsd with
// CUPS-PDF queues): what lands on paper, and what the operator sees when CUPS refuses the job.
#include "PrivateCups.h"
#include "WindowFixture.h"
#include "exam/ReportFilling.h"
#include "imaging/JpegFile.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>

namespace {

// Runs a poppler tool; its standard output, or empty on failure.
QByteArray poppler(const QString &tool, const QStringList &arguments)
{
    QProcess process;
    process.start(tool, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return {};
    return process.readAllStandardOutput();
}

class PrintedReport : public WindowTest {
protected:
    void SetUp() override
    {
        cups =
            std::make_unique<PrivateCups>(QCoreApplication::applicationDirPath()
                                          + QStringLiteral("/private-cups-%1").arg(QCoreApplication::applicationPid()));
        if (!cups->start())
            GTEST_SKIP() << "no private cupsd: " << cups->whyNot().toStdString();
        // Every CUPS request of this process goes to the private server.
        qputenv("CUPS_SERVER", cups->server().toUtf8());
        ASSERT_TRUE(cups->addPdfQueue(QStringLiteral("ReportPdf"), true)) << cups->errorLog().right(2000).toStdString();
        // A queue whose own default is grey: the report's pictures must still print in colour.
        ASSERT_TRUE(
            cups->setQueueDefault(QStringLiteral("ReportPdf"), QStringLiteral("print-color-mode-default=monochrome")));
        WindowTest::SetUp();
        home.installReportTemplate();

        // A saved examination with four pictures, each of one colour.
        addPatient({.client_id = QStringLiteral("10023"),
                    .client_name = QStringLiteral("Zhang Wei"),
                    .sex = QStringLiteral("男"),
                    .age = QStringLiteral("45"),
                    .client_phone = QStringLiteral("555"),
                    .address = QStringLiteral("Road 1")});
        Statements::ExamRecord record;
        record.client_id = QStringLiteral("10023");
        record.title = QStringLiteral("胃镜检查报告 Gastroscopy");
        record.doctor = QStringLiteral("Dr. Qian");
        record.symptom = {QStringLiteral("慢性胃炎 chronic gastritis"), QString(), QString(), QString()};
        record.symptom5 = QStringLiteral("检查所见第一行 findings line one");
        record.printtime = QDateTime(QDate(2024, 3, 4), QTime(5, 6, 7));
        for (int n = 0; n < 4; ++n) {
            QImage picture(640, 480, QImage::Format_BGR888);
            picture.fill(QColor(kColours[n]));
            const QString name = QStringLiteral("pic%1.jpg").arg(n + 1);
            JpegFile::write(picture, home.file(QStringLiteral("images/") + name));
            record.pic[n] = name;
        }
        Statements::insertExamRecord(db(), record);
        window->edtNumber->setFocus();
        QTest::keyClicks(window->edtNumber, QStringLiteral("10023"));
    }

    void TearDown() override
    {
        window.reset();
        cups.reset();
        qputenv("CUPS_SERVER", previousServer);
    }

    // "打印报告", answered Yes.
    void print()
    {
        dialogs.answer(Dialogs::Answer::Yes);
        QTest::mouseClick(window->btnPrint, Qt::LeftButton);
        ASSERT_TRUE(dialogs.texts().join(u'|').contains(QStringLiteral("Print the report?")))
            << dialogs.texts().join(u'|').toStdString();
    }

    static constexpr QRgb kColours[4] = {qRgb(220, 30, 30), qRgb(30, 180, 40), qRgb(30, 60, 220), qRgb(240, 200, 20)};
    std::unique_ptr<PrivateCups> cups;
    const QByteArray previousServer = qgetenv("CUPS_SERVER");
};

TEST_F(PrintedReport, onePageLandsWithEverythingWhereTheLayoutPutsIt)
{
    print();
    // The window is free at once; the ready flag comes back when CUPS has the job.
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->reportFilling().reportReady(); }, 30000));
    ASSERT_TRUE(cups->waitForPdfs(1, 90000)) << cups->errorLog().right(3000).toStdString();
    EXPECT_TRUE(dialogs.boxes().size() == 1) << dialogs.texts().join(u'|').toStdString();
    const QString pdf = cups->pdfFiles().constFirst();

    const QString info = QString::fromUtf8(poppler(QStringLiteral("pdfinfo"), {pdf}));
    EXPECT_TRUE(info.contains(QRegularExpression(QStringLiteral("Pages:\\s+1\\n")))) << info.toStdString();
    // CUPS-PDF takes the job's name as the document's title (in the parentheses of PostScript).
    EXPECT_TRUE(info.contains(QRegularExpression(QStringLiteral("Title:\\s+\\(?Report\\)?\\n")))) << info.toStdString();

    // The page at 50 dpi: band positions (mm from the band's corner) in pixels.
    const QString stem = QFileInfo(pdf).absolutePath() + QStringLiteral("/page");
    poppler(
        QStringLiteral("pdftoppm"),
        {QStringLiteral("-r"), QStringLiteral("50"), QStringLiteral("-png"), QStringLiteral("-singlefile"), pdf, stem});
    const QImage page(stem + QStringLiteral(".png"));
    ASSERT_FALSE(page.isNull());
    const double dotsPerMm = 50.0 / 25.4;
    const auto at = [&](double left, double top) {
        return QPoint(qRound((20 + left) * dotsPerMm), qRound((12 + top) * dotsPerMm));
    };
    const auto ink = [&](double left, double top, double width, double height) {
        int dark = 0;
        for (int y = at(left, top).y(); y < at(left, top + height).y(); ++y) {
            for (int x = at(left, top).x(); x < at(left + width, top).x(); ++x)
                dark += qGray(page.pixel(x, y)) < 128;
        }
        return dark;
    };
    const QPoint centres[4] = {at(45, 68.5), at(127, 68.5), at(45, 129.5), at(127, 129.5)};
    for (int n = 0; n < 4; ++n) {
        const QColor seen = page.pixelColor(centres[n]);
        const QColor wanted(kColours[n]);
        EXPECT_LT(qAbs(seen.red() - wanted.red()) + qAbs(seen.green() - wanted.green())
                      + qAbs(seen.blue() - wanted.blue()),
                  60)
            << "pic" << n + 1 << " is " << seen.name().toStdString();
    }
    EXPECT_EQ(QColor(page.pixel(at(86, 68.5))), QColor(Qt::white)); // between the pictures
    EXPECT_GT(ink(9, 1, 152, 12), 50); // title
    EXPECT_GT(ink(12, 18, 25, 5), 5); // name
    EXPECT_GT(ink(10, 164.38, 155, 10), 20); // findings
    EXPECT_EQ(ink(0, 14, 170, 3), 0); // nothing between the title and the patient row
}

TEST_F(PrintedReport, aQueueThatRefusesJobsGivesAnErrorWithCupsReason)
{
    ASSERT_TRUE(cups->addPdfQueue(QStringLiteral("Refusing"), true));
    ASSERT_TRUE(cups->rejectJobs(QStringLiteral("Refusing"), QStringLiteral("out of paper")));
    print();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialogs.boxes().size() == 2; }, 30000)) << "no error box";
    const ScriptedDialogs::Box error = dialogs.boxes().at(1);
    EXPECT_EQ(error.kind, Dialogs::Kind::Error);
    EXPECT_TRUE(error.text.contains(QStringLiteral("not accepting jobs"))) << error.text.toStdString();
    // The flag is back: the next request runs, asks again and is refused again.
    EXPECT_TRUE(window->reportFilling().reportReady());
    print();
    EXPECT_EQ(dialogs.boxes().size(), 3);
    EXPECT_TRUE(QTest::qWaitFor([&] { return dialogs.boxes().size() == 4; }, 30000));
    EXPECT_TRUE(cups->pdfFiles().isEmpty());
}

} // namespace
