// Report filling, preview and printing over a temporary program folder and database. It lives
// with the examination tests because it needs the whole examination library.
#include "exam/ReportFilling.h"

#include "TestHome.h"
#include "core/AppError.h"
#include "imaging/JpegFile.h"
#include "records/Database.h"
#include "records/RecordSet.h"
#include "records/Statements.h"
#include "report/ReportPreview.h"
#include "report/ReportRenderer.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSqlQuery>

#include <gtest/gtest.h>

#include <deque>
#include <memory>

namespace {

QString shippedTemplate()
{
    const QString source = qEnvironmentVariable("EXAMSTATION_SOURCE_DIR");
    if (!source.isEmpty())
        return source + QStringLiteral("/data/1.fr3");
    return QFileInfo(QStringLiteral(__FILE__)).dir().absoluteFilePath(QStringLiteral("../../data/1.fr3"));
}

// A patient "P1" with three records (oldest "first" .. newest "third"), the shipped template
// in the program folder, the sheet's shown texts and the language texts as plain tables, and
// a printer that only counts jobs.
class ReportFillingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QDir().mkpath(home.file(QStringLiteral("data")));
        QDir().mkpath(home.file(QStringLiteral("images")));
        ASSERT_TRUE(QFile::copy(shippedTemplate(), home.file(QStringLiteral("data/1.fr3"))));
        db.open(home.file(QStringLiteral("data/data.db")));
        Statements::insertPatient(db,
                                  {.client_id = QStringLiteral("P1"),
                                   .client_name = QStringLiteral("Li Lei"),
                                   .sex = QStringLiteral("M"),
                                   .age = QStringLiteral("40"),
                                   .client_phone = QStringLiteral("555"),
                                   .address = QStringLiteral("Road 1")});
        addRecord(QStringLiteral("first"), QStringLiteral("Dr. Zhao"), true);
        addRecord(QStringLiteral("second"), QString(), false);
        addRecord(QStringLiteral("third"), QStringLiteral("Dr. Zhao"), true, QStringLiteral("20240101120000000.jpg"));

        QImage red(64, 48, QImage::Format_BGR888);
        red.fill(Qt::red);
        JpegFile::write(red, home.file(QStringLiteral("images/20240101120000000.jpg")));

        controls = {{QStringLiteral("edtNumber"), QStringLiteral(" P1 ")},
                    {QStringLiteral("edtName"), QStringLiteral("Li Lei")},
                    {QStringLiteral("cbSex"), QStringLiteral("M")},
                    {QStringLiteral("edtAge"), QStringLiteral("40")},
                    {QStringLiteral("edtTel"), QStringLiteral("555")},
                    {QStringLiteral("edtAddr"), QStringLiteral("Road 1")},
                    {QStringLiteral("lbName"), QStringLiteral("Name")},
                    {QStringLiteral("lbPic"), QStringLiteral("Findings")},
                    {QStringLiteral("lbDoctor"), QStringLiteral("Diagnosed by")},
                    {QStringLiteral("lbProposer"), QStringLiteral("Requested by")},
                    {QStringLiteral("lbTreat"), QStringLiteral("Treatment")}};
        texts = {{QStringLiteral("lbDate.Caption"), QStringLiteral("Date")},
                 {QStringLiteral("lbOne_doctor.Caption "), QStringLiteral("Doctor")}};
        makeFilling(home.file(QStringLiteral("data/1.fr3")));
    }

    void makeFilling(const QString &templateFile)
    {
        ReportFillingHooks hooks;
        hooks.openExaminationRecords = [this](const QString &number) {
            opened << number;
            ADOQuery1.open(db, number);
            if (ADOQuery1.isEmpty())
                return false;
            ADOQuery1.Last();
            return true;
        };
        hooks.text = [this](const QString &key) { return texts.value(key); };
        hooks.askMessage = [this](const QString &key) {
            asked << key;
            if (answers.empty())
                return Dialogs::Answer::No;
            const Dialogs::Answer answer = answers.front();
            answers.pop_front();
            return answer;
        };
        hooks.controlText = [this](const QString &name) { return controls.value(name); };
        hooks.graphRunning = [this] { return graphRunning; };
        hooks.pauseGraph = [this] {
            graphRunning = false;
            graphLog << QStringLiteral("pause");
        };
        hooks.runGraph = [this] {
            graphRunning = true;
            graphLog << QStringLiteral("run");
        };
        hooks.print = [this](const ReportTemplate &report, const QString &jobName) {
            jobs << jobName + u'/' + report.find(QStringLiteral("mm_title"))->text;
            graphLog << (graphRunning ? QStringLiteral("print while running") : QStringLiteral("print"));
            if (onPrint)
                onPrint();
        };
        filling =
            std::make_unique<ReportFilling>(ADOQuery1, db, hooks, home.file(QStringLiteral("images/")), templateFile);
    }

    void addRecord(const QString &title, const QString &proposer, bool hasTreat, const QString &pic1 = QString())
    {
        Statements::ExamRecord record;
        record.client_id = QStringLiteral("P1");
        record.printtime = QDateTime(QDate(2024, 3, 4), QTime(5, 6, 7));
        record.doctor = QStringLiteral("Dr. Qian");
        record.proposer = proposer;
        record.title = title;
        record.pic = {pic1, QString(), QString(), QString()};
        record.symptom = {title + QStringLiteral(" diagnosis"), QString(), QString(), QString()};
        record.symptom5 = QStringLiteral("findings of ") + title;
        record.has_treat = hasTreat;
        record.treat = {QStringLiteral("rest"), QString(), QString(), QString()};
        Statements::insertExamRecord(db, record);
    }

    QString shown(const QString &name) const { return filling->report().find(name)->text; }
    bool visible(const QString &name) const { return filling->report().find(name)->visible; }
    void press(const char *button) { filling->preview()->action(QLatin1String(button))->trigger(); }

    QStringList storedTitles()
    {
        QStringList titles;
        QSqlQuery query = db.run(QStringLiteral("select title from t_contents order by ID"), {});
        while (query.next())
            titles << query.value(0).toString();
        return titles;
    }

    TestHome home;
    Database db;
    RecordSet ADOQuery1;
    QHash<QString, QString> controls;
    QHash<QString, QString> texts;
    std::deque<Dialogs::Answer> answers;
    QStringList asked;
    QStringList opened;
    QStringList jobs;
    QStringList graphLog;
    bool graphRunning = false;
    std::function<void()> onPrint;
    std::unique_ptr<ReportFilling> filling;
};

TEST_F(ReportFillingTest, PreviewShowsTheNewestRecordWithTheSheetAndLabelTexts)
{
    filling->btnPrevReportClick();
    EXPECT_EQ(opened, QStringList{QStringLiteral("P1")});
    ASSERT_NE(filling->preview(), nullptr);
    EXPECT_TRUE(filling->preview()->isVisible());
    EXPECT_EQ(shown(QStringLiteral("mm_title")), QStringLiteral("third"));
    EXPECT_EQ(shown(QStringLiteral("lbName")), QStringLiteral("Name:"));
    EXPECT_EQ(shown(QStringLiteral("lbImageShown")), QStringLiteral("Findings:"));
    EXPECT_EQ(shown(QStringLiteral("lb_doctor")), QStringLiteral("Diagnosed by:"));
    EXPECT_EQ(shown(QStringLiteral("lbDate")), QStringLiteral("Date:"));
    EXPECT_EQ(shown(QStringLiteral("mm_client_ID")), QStringLiteral("P1"));
    EXPECT_EQ(shown(QStringLiteral("mm_client_addr")), QStringLiteral("Road 1"));
    EXPECT_EQ(shown(QStringLiteral("mm_proposer")), QStringLiteral("Dr. Zhao"));
    EXPECT_TRUE(visible(QStringLiteral("lb_proposer")));
    EXPECT_EQ(shown(QStringLiteral("mm_print_date")), QStringLiteral("2024-03-04 05:06:07"));
    EXPECT_EQ(shown(QStringLiteral("mm_sym1")), QStringLiteral("third diagnosis"));
    EXPECT_EQ(shown(QStringLiteral("mm_treat1")), QStringLiteral("rest"));
    EXPECT_EQ(shown(QStringLiteral("mm_sym5")), QStringLiteral("findings of third"));
    EXPECT_FALSE(filling->report().find(QStringLiteral("pic1"))->picture.isNull());
    EXPECT_TRUE(filling->report().find(QStringLiteral("pic2"))->picture.isNull());
    EXPECT_TRUE(filling->reportReady());

    // On paper: the snapshot fills pic1's frame, the title stands in its frame.
    const double dotsPerMm = 100.0 / 25.4;
    const QImage page = ReportRenderer::renderToImage(filling->preview()->report(), 100.0);
    const QColor centre = page.pixel(qRound((20 + 7 + 38) * dotsPerMm), qRound((12 + 40 + 28) * dotsPerMm));
    EXPECT_GT(centre.red(), 200);
    EXPECT_LT(centre.green(), 60);
    int dark = 0;
    for (int y = qRound(13 * dotsPerMm); y < qRound(25 * dotsPerMm); ++y)
        for (int x = qRound(29 * dotsPerMm); x < qRound(181 * dotsPerMm); ++x)
            dark += qGray(page.pixel(x, y)) < 128;
    EXPECT_GT(dark, 100);
}

TEST_F(ReportFillingTest, RecordButtonsStepThroughThePatientsRecords)
{
    filling->btnPrevReportClick();
    press("actPrior");
    EXPECT_EQ(shown(QStringLiteral("mm_title")), QStringLiteral("second"));
    press("actPrior");
    EXPECT_EQ(shown(QStringLiteral("mm_title")), QStringLiteral("first"));
    press("actPrior");
    EXPECT_EQ(shown(QStringLiteral("mm_title")), QStringLiteral("first"));
    press("actLast");
    EXPECT_EQ(shown(QStringLiteral("mm_title")), QStringLiteral("third"));
    press("actNext");
    EXPECT_EQ(shown(QStringLiteral("mm_title")), QStringLiteral("third"));
    press("actFirst");
    EXPECT_EQ(shown(QStringLiteral("mm_title")), QStringLiteral("first"));
    // The window refreshes in place with the record it was asked for.
    EXPECT_EQ(filling->preview()->report().find(QStringLiteral("mm_title"))->text, QStringLiteral("first"));
    filling->WMMySelRecordMsg(9);
    EXPECT_EQ(shown(QStringLiteral("mm_title")), QStringLiteral("first"));
}

TEST_F(ReportFillingTest, DeletingTheMiddleRecordShowsTheFollowingOne)
{
    filling->btnPrevReportClick();
    press("actPrior");
    answers.push_back(Dialogs::Answer::Yes);
    press("actDelete");
    EXPECT_EQ(asked, QStringList{QStringLiteral("Msg_delete_report")});
    EXPECT_EQ(storedTitles(), (QStringList{QStringLiteral("first"), QStringLiteral("third")}));
    EXPECT_EQ(shown(QStringLiteral("mm_title")), QStringLiteral("third"));
    EXPECT_TRUE(QFileInfo::exists(home.file(QStringLiteral("images/20240101120000000.jpg"))));
}

TEST_F(ReportFillingTest, AnsweringNoToDeleteChangesNothing)
{
    filling->btnPrevReportClick();
    press("actDelete");
    EXPECT_EQ(asked, QStringList{QStringLiteral("Msg_delete_report")});
    EXPECT_EQ(storedTitles().size(), 3);
    EXPECT_EQ(shown(QStringLiteral("mm_title")), QStringLiteral("third"));
}

TEST_F(ReportFillingTest, DeletingEveryRecordLeavesAnEmptyReport)
{
    filling->btnPrevReportClick();
    for (int i = 0; i < 3; ++i) {
        answers.push_back(Dialogs::Answer::Yes);
        press("actDelete");
    }
    EXPECT_TRUE(storedTitles().isEmpty());
    EXPECT_TRUE(shown(QStringLiteral("mm_title")).isEmpty());
    EXPECT_TRUE(shown(QStringLiteral("mm_client_ID")).isEmpty());
    // With no record left the buttons do nothing and ask nothing.
    asked.clear();
    press("actDelete");
    press("actFirst");
    EXPECT_TRUE(asked.isEmpty());
}

TEST_F(ReportFillingTest, WithoutRequestingDoctorTheDoctorLabelChanges)
{
    filling->btnPrevReportClick();
    press("actPrior");
    EXPECT_FALSE(visible(QStringLiteral("lb_proposer")));
    EXPECT_TRUE(shown(QStringLiteral("mm_proposer")).isEmpty());
    EXPECT_EQ(shown(QStringLiteral("lb_doctor")), QStringLiteral("Doctor:"));
}

TEST_F(ReportFillingTest, WithoutTreatmentTheTreatmentPartIsEmpty)
{
    filling->btnPrevReportClick();
    press("actPrior");
    EXPECT_FALSE(visible(QStringLiteral("lb_treat")));
    for (int n = 1; n <= 4; ++n)
        EXPECT_TRUE(shown(QStringLiteral("mm_treat%1").arg(n)).isEmpty());
}

TEST_F(ReportFillingTest, PrintAsksAndPrintsOnlyOnYes)
{
    filling->btnPrintClick();
    EXPECT_EQ(asked, QStringList{QStringLiteral("Msg_print_report")});
    EXPECT_TRUE(jobs.isEmpty());
    answers = {Dialogs::Answer::Yes, Dialogs::Answer::Yes};
    filling->btnPrintClick();
    filling->btnPrintClick();
    EXPECT_EQ(jobs, (QStringList{QStringLiteral("Report/third"), QStringLiteral("Report/third")}));
    EXPECT_EQ(filling->preview(), nullptr);
}

TEST_F(ReportFillingTest, PrintButtonOfThePreviewPrintsTheRecordShown)
{
    filling->btnPrevReportClick();
    press("actFirst");
    press("actPrint");
    EXPECT_EQ(jobs, QStringList{QStringLiteral("Report/first")});
    EXPECT_TRUE(asked.isEmpty());
}

TEST_F(ReportFillingTest, NoRecordsOrNoNumberDoNothingAndSayNothing)
{
    controls[QStringLiteral("edtNumber")] = QStringLiteral("  ");
    answers = {Dialogs::Answer::Yes};
    filling->btnPrevReportClick();
    filling->btnPrintClick();
    controls[QStringLiteral("edtNumber")] = QStringLiteral("P2");
    filling->btnPrevReportClick();
    filling->btnPrintClick();
    EXPECT_EQ(filling->preview(), nullptr);
    EXPECT_TRUE(asked.isEmpty());
    EXPECT_TRUE(jobs.isEmpty());
}

TEST_F(ReportFillingTest, LivePicturePausesWhileTheReportIsBuilt)
{
    graphRunning = true;
    answers = {Dialogs::Answer::Yes};
    filling->btnPrintClick();
    EXPECT_EQ(graphLog, (QStringList{QStringLiteral("pause"), QStringLiteral("print"), QStringLiteral("run")}));
    graphLog.clear();
    graphRunning = false;
    filling->btnPrevReportClick();
    EXPECT_TRUE(graphLog.isEmpty());
}

TEST_F(ReportFillingTest, RequestsDuringARequestAreIgnored)
{
    answers = {Dialogs::Answer::Yes};
    onPrint = [this] {
        EXPECT_FALSE(filling->reportReady());
        filling->PreviewReport();
    };
    filling->btnPrintClick();
    EXPECT_EQ(filling->preview(), nullptr);
    EXPECT_TRUE(filling->reportReady());
}

TEST_F(ReportFillingTest, PicturePathsOutsideTheImagesFolderAreNotLoaded)
{
    QImage red(8, 8, QImage::Format_BGR888);
    red.fill(Qt::red);
    JpegFile::write(red, home.file(QStringLiteral("secret.jpg")));
    QSqlQuery query = db.run(QStringLiteral("update t_contents set pic2 = '../secret.jpg', pic3 = 'missing.jpg'"), {});
    filling->btnPrevReportClick();
    EXPECT_TRUE(filling->report().find(QStringLiteral("pic2"))->picture.isNull());
    EXPECT_TRUE(filling->report().find(QStringLiteral("pic3"))->picture.isNull());
    EXPECT_FALSE(filling->report().find(QStringLiteral("pic1"))->picture.isNull());
}

TEST_F(ReportFillingTest, DamagedPictureFileLeavesItsAreaEmpty)
{
    QFile damaged(home.file(QStringLiteral("images/20240101120000000.jpg")));
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly | QIODevice::Truncate));
    damaged.write("not a jpeg");
    damaged.close();
    filling->btnPrevReportClick();
    EXPECT_TRUE(filling->report().find(QStringLiteral("pic1"))->picture.isNull());
    EXPECT_EQ(shown(QStringLiteral("mm_title")), QStringLiteral("third"));
}

TEST_F(ReportFillingTest, MissingTemplateIsReportedAndLaterRequestsStillRun)
{
    graphRunning = true;
    QFile::rename(home.file(QStringLiteral("data/1.fr3")), home.file(QStringLiteral("data/1.bak")));
    try {
        filling->btnPrevReportClick();
        FAIL() << "a missing template must be reported";
    } catch (const AppError &error) {
        EXPECT_TRUE(error.message().contains(QStringLiteral("1.fr3"))) << error.message().toStdString();
    }
    EXPECT_TRUE(filling->reportReady());
    EXPECT_TRUE(graphRunning);
    EXPECT_EQ(filling->preview(), nullptr);

    // Each request loads the template afresh.
    QFile::rename(home.file(QStringLiteral("data/1.bak")), home.file(QStringLiteral("data/1.fr3")));
    filling->btnPrevReportClick();
    ASSERT_NE(filling->preview(), nullptr);
}

TEST_F(ReportFillingTest, TemplateLackingAnObjectNamesIt)
{
    home.write(QStringLiteral("data/1.fr3"),
               "<report><page width=\"210\" height=\"297\">"
               "<text name=\"lbName\" left=\"1\" top=\"1\" width=\"10\" height=\"5\"/>"
               "</page></report>");
    try {
        filling->btnPrevReportClick();
        FAIL() << "an incomplete template must be reported";
    } catch (const AppError &error) {
        EXPECT_TRUE(error.message().contains(QStringLiteral("lbSex"))) << error.message().toStdString();
    }
    EXPECT_TRUE(filling->reportReady());
}

} // namespace
