// The report: "预览报告" with four 640 x 480 pictures from the button to the painted preview
// page; printing, from the button to the hand-off to CUPS (a private cupsd with a CUPS-PDF
// queue, as the tests start it); loading a template of 50,000 objects. Offscreen widgets, the
// question boxes answered Yes at once. Prints medians in ms.
//
// Usage: bench_report [runs]; EXAMSTATION_PREVIEW_PNG=file also saves a picture of the preview.
#include "PrivateCups.h"
#include "core/Dialogs.h"
#include "core/ProgramFolder.h"
#include "exam/ReportFilling.h"
#include "imaging/JpegFile.h"
#include "records/Database.h"
#include "records/RecordSet.h"
#include "records/Statements.h"
#include "report/ReportPreview.h"
#include "report/ReportTemplate.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QPrintPreviewWidget>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

// CPU time of this thread: on a machine shared with other work, the part of the wall time
// that is ours.
double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

QByteArray bigTemplate(int objects)
{
    QByteArray xml = "<report version=\"1\"><page width=\"210\" height=\"297\">\n";
    for (int i = 0; i < objects; ++i)
        xml += "<text name=\"text" + QByteArray::number(i) + "\" left=\"1\" top=\"" + QByteArray::number(i % 250)
            + "\" width=\"50\" height=\"5\" font=\"Arial\" size=\"10\">value " + QByteArray::number(i) + "</text>\n";
    return xml + "</page></report>\n";
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(3, atoi(argv[1])) : 31;

    // Template loading.
    {
        const QByteArray xml = bigTemplate(50000);
        std::vector<double> times;
        std::vector<double> cpu;
        for (int i = 0; i < 5; ++i) {
            ReportTemplate report;
            QElapsedTimer timer;
            const double cpuStart = threadCpuMs();
            timer.start();
            report.loadFromText(xml, QStringLiteral("big.fr3"));
            times.push_back(timer.nsecsElapsed() / 1e6);
            cpu.push_back(threadCpuMs() - cpuStart);
        }
        std::printf("load template of 50,000 objects: median %.1f ms, CPU %.1f ms (limit 500)\n", median(times),
                    median(cpu));
    }

    QTemporaryDir home(QDir::current().filePath(QStringLiteral("report-bench-XXXXXX")));
    ProgramFolder::set(home.path());
    QDir(home.path()).mkpath(QStringLiteral("data"));
    QDir(home.path()).mkpath(QStringLiteral("images"));
    QFile::copy(QStringLiteral(EXAMSTATION_SOURCE_DIR "/data/1.fr3"), home.filePath(QStringLiteral("data/1.fr3")));
    Database db;
    db.open(home.filePath(QStringLiteral("data/data.db")));
    Statements::insertPatient(db,
                              {QStringLiteral("10023"), QStringLiteral("Zhang Wei"), QStringLiteral("男"),
                               QStringLiteral("45"), QStringLiteral("555"), QStringLiteral("Road 1")});
    Statements::ExamRecord record;
    record.client_id = QStringLiteral("10023");
    record.title = QStringLiteral("胃镜检查报告");
    record.doctor = QStringLiteral("钱医生");
    record.proposer = QStringLiteral("Dr. Li");
    record.symptom = {QStringLiteral("慢性胃炎 chronic gastritis"), QStringLiteral("十二指肠球炎"), QString(),
                      QString()};
    record.has_treat = true;
    record.treat = {QStringLiteral("奥美拉唑 20 mg, twice a day"), QStringLiteral("四周后复查"), QString(), QString()};
    record.symptom5 = QStringLiteral("检查所见第一行 findings line one\n第二行 line two");
    record.printtime = QDateTime::currentDateTime();
    for (int n = 0; n < 4; ++n) {
        QImage picture(640, 480, QImage::Format_BGR888);
        for (int y = 0; y < 480; ++y)
            for (int x = 0; x < 640; ++x)
                picture.setPixel(x, y, qRgb((x + n * 40) & 255, (y * 2) & 255, (x ^ y) & 255));
        record.pic[n] = QStringLiteral("pic%1.jpg").arg(n + 1);
        JpegFile::write(picture, home.filePath(QStringLiteral("images/") + record.pic[n]));
    }
    Statements::insertExamRecord(db, record);

    Dialogs::setBoxHandler([](Dialogs::Kind, const QString &, const QString &) { return Dialogs::Answer::Yes; });
    RecordSet ADOQuery1;
    ReportFillingHooks hooks;
    hooks.openExaminationRecords = [&](const QString &number) {
        ADOQuery1.open(db, number);
        if (ADOQuery1.isEmpty())
            return false;
        ADOQuery1.Last();
        return true;
    };
    // The sheet as a Chinese operator sees it.
    const QHash<QString, QString> shown = {
        {QStringLiteral("edtNumber"), QStringLiteral("10023")},
        {QStringLiteral("edtName"), QStringLiteral("张伟 Zhang Wei")},
        {QStringLiteral("cbSex"), QStringLiteral("男")},
        {QStringLiteral("edtAge"), QStringLiteral("45")},
        {QStringLiteral("edtTel"), QStringLiteral("13800001111")},
        {QStringLiteral("edtAddr"), QStringLiteral("北京市海淀区 Road 1")},
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
    hooks.text = [](const QString &key) {
        return key.startsWith(u"lbDate") ? QStringLiteral("打印日期") : QStringLiteral("医生");
    };
    hooks.askMessage = [](const QString &) { return Dialogs::Answer::Yes; };
    hooks.controlText = [&shown](const QString &name) { return shown.value(name); };
    ReportFilling filling(ADOQuery1, db, hooks, home.filePath(QStringLiteral("images/")),
                          home.filePath(QStringLiteral("data/1.fr3")));

    // Preview: the button, the filled report, the page painted in the preview window.
    {
        std::vector<double> times;
        std::vector<double> cpu;
        for (int i = 0; i < runs; ++i) {
            QElapsedTimer timer;
            const double cpuStart = threadCpuMs();
            timer.start();
            filling.btnPrevReportClick();
            filling.preview()->previewWidget()->grab();
            times.push_back(timer.nsecsElapsed() / 1e6);
            cpu.push_back(threadCpuMs() - cpuStart);
        }
        std::printf("preview, button to painted page: median %.1f ms, CPU %.1f ms (limit 150)\n", median(times),
                    median(cpu));
        // A picture of the preview window at 100 %, for the documentation.
        if (const QString png = qEnvironmentVariable("EXAMSTATION_PREVIEW_PNG"); !png.isEmpty()) {
            filling.preview()->resize(900, 1180);
            QCoreApplication::processEvents();
            filling.preview()->grab().save(png);
        }
        filling.preview()->close();
    }

    // Printing through a private cupsd.
    PrivateCups cups(QDir::current().filePath(QStringLiteral("report-bench-cups")));
    if (!cups.start() || !cups.addPdfQueue(QStringLiteral("BenchPdf"), true)) {
        std::printf("printing not measured: %s\n", qPrintable(cups.whyNot()));
        return 0;
    }
    qputenv("CUPS_SERVER", cups.server().toUtf8());
    std::vector<double> free;
    std::vector<double> handedOver;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        filling.btnPrintClick();
        free.push_back(timer.nsecsElapsed() / 1e6);
        if (!QTest::qWaitFor([&] { return filling.reportReady(); }, 30000)) {
            std::printf("a print was not handed over within 30 s\n");
            return 1;
        }
        handedOver.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::printf("print, button until the window is free: median %.1f ms\n", median(free));
    std::printf("print, button to hand-off to CUPS: median %.1f ms (limit 500)\n", median(handedOver));
    return 0;
}
