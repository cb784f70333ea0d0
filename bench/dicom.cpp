// DICOM over loopback against private servers: delivering the outbox's image instances to
// Orthanc, in the clear and over TLS (beside bare C-STOREs of the same instances on one
// association, and the report PDFs),
// and a worklist query answered by wlmscpfs with 200 scheduled procedures.
//
// Usage: bench_dicom [examinations, default 50]
#include "DicomServers.h"
#include "core/ProgramFolder.h"
#include "dicom/StoreClient.h"
#include "dicom/StudyInstance.h"
#include "dicom/WorklistClient.h"
#include "exam/DicomOutbox.h"
#include "records/Database.h"
#include "records/Statements.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <dcmtk/dcmdata/dcfilefo.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

QImage cameraPicture(int seed)
{
    QImage picture(640, 480, QImage::Format_RGB888);
    for (int y = 0; y < picture.height(); ++y) {
        uchar *row = picture.scanLine(y);
        for (int x = 0; x < picture.width(); ++x) {
            row[3 * x] = uchar((x / 3 + y / 5 + seed) & 0xFF);
            row[3 * x + 1] = uchar((y / 2 + seed * 7 + ((x * y) >> 9)) & 0xFF);
            row[3 * x + 2] = uchar((128 + (x ^ y) / 8 + seed) & 0xFF);
        }
    }
    return picture;
}

double seconds(const QElapsedTimer &timer)
{
    return double(timer.nsecsElapsed()) / 1e9;
}

void deliveryFigures(int examinations)
{
    OrthancServer orthanc;
    if (!orthanc.start()) {
        std::printf("delivery: skipped, %s\n", qPrintable(orthanc.whyNot()));
        return;
    }
    QTemporaryDir folder(QDir(qEnvironmentVariable("EXAMSTATION_BENCH_DIR", QDir::currentPath()))
                             .filePath(QStringLiteral("dicom-bench-XXXXXX")));
    ProgramFolder::set(folder.path());
    QDir().mkpath(ProgramFolder::file("images"));
    QDir().mkpath(ProgramFolder::file("data"));
    QFile::copy(QStringLiteral(EXAMSTATION_DATA_SOURCE "/1.fr3"), ProgramFolder::file("data/1.fr3"));
    std::vector<QByteArray> jpegs;
    for (int slot = 1; slot <= 4; ++slot) {
        const QString file = ProgramFolder::file(QStringLiteral("images/p%1.jpg").arg(slot));
        cameraPicture(slot * 31).save(file, "JPG", 90);
        QFile read(file);
        read.open(QIODevice::ReadOnly);
        jpegs.push_back(read.readAll());
    }
    Database db;
    db.open();
    Statements::insertPatient(
        db, {QStringLiteral("10001"), QStringLiteral("李王"), QStringLiteral("女"), QStringLiteral("42")});
    for (int n = 0; n < examinations; ++n) {
        Statements::ExamRecord record;
        record.client_id = QStringLiteral("10001");
        record.title = QStringLiteral("Gastroscopy");
        record.printtime = QDateTime::currentDateTime();
        for (int slot = 1; slot <= 4; ++slot)
            record.pic[slot - 1] = QStringLiteral("p%1.jpg").arg(slot);
        Statements::insertExamRecord(db, record);
    }
    const DicomPeer pacs{.host = QStringLiteral("127.0.0.1"),
                         .port = orthanc.dicomPort(),
                         .calledAe = orthanc.aet(),
                         .callingAe = QStringLiteral("EXAMSTATION")};
    const ReportSource report{ProgramFolder::file("images/"), ProgramFolder::file("data/1.fr3"), QString()};

    // Bare C-STOREs of the same pictures, prepared in memory, on one association.
    std::vector<std::unique_ptr<DcmFileFormat>> prepared;
    const StudyValues study{.patientId = QStringLiteral("BARE"),
                            .patientName = QStringLiteral("Bare"),
                            .studyTime = QDateTime::currentDateTime(),
                            .studyUid = StudyInstance::newUid()};
    const QString series = StudyInstance::newUid();
    for (int n = 0; n < 4 * examinations; ++n)
        prepared.push_back(StudyInstance::jpegImage(study, {series, StudyInstance::newUid(), 1, n + 1}, jpegs[n % 4]));
    QElapsedTimer timer;
    timer.start();
    {
        StoreClient client(pacs);
        for (auto &instance : prepared)
            client.store(*instance->getDataset());
    }
    const double bare = seconds(timer);

    // The outbox: image instances only (the report rows are taken out), then the reports.
    DicomOutbox::queueStoredRecords(db, QString());
    db.run(QStringLiteral("delete from t_dicom_outbox where kind = 'report'"), {});
    timer.restart();
    const DicomOutbox::Delivery images = DicomOutbox::deliver(db, pacs, report, true);
    const double outbox = seconds(timer);

    // The same image instances once more, to an Orthanc speaking TLS only (both sides'
    // certificates checked, BCP 195 profile).
    OrthancServer secure;
    const TestCertificates files = makeTestCertificates(secure.folder());
    secure.useTls(files);
    double overTlsSeconds = 0;
    DicomOutbox::Delivery imagesOverTls;
    if (files.whyNot.isEmpty() && secure.start()) {
        db.run(QStringLiteral("update t_dicom_outbox set state = 'waiting', sent_at = null"), {});
        timer.restart();
        imagesOverTls = DicomOutbox::deliver(db, overTls(secure.peer(), files, files.ca), report, true);
        overTlsSeconds = seconds(timer);
    } else {
        std::printf("delivery over TLS: skipped, %s\n", qPrintable(files.whyNot + secure.whyNot()));
    }
    DicomOutbox::queueStoredRecords(db, QString());
    timer.restart();
    const DicomOutbox::Delivery reports = DicomOutbox::deliver(db, pacs, report, true);
    const double pdf = seconds(timer);

    std::printf("\n%-52s %8s %10s %12s\n", "delivery over loopback (640 x 480 JPEG)", "count", "seconds", "per second");
    std::printf("%-52s %8zu %10.2f %12.1f\n", "bare C-STORE, one association, prepared", prepared.size(), bare,
                double(prepared.size()) / bare);
    std::printf("%-52s %8lld %10.2f %12.1f\n", "outbox: image instances (built, sent, marked sent)",
                static_cast<long long>(images.sent.size()), outbox, double(images.sent.size()) / outbox);
    if (overTlsSeconds > 0)
        std::printf("%-52s %8lld %10.2f %12.1f\n", "outbox: the same image instances over TLS",
                    static_cast<long long>(imagesOverTls.sent.size()), overTlsSeconds,
                    double(imagesOverTls.sent.size()) / overTlsSeconds);
    std::printf("%-52s %8lld %10.2f %12.1f\n", "outbox: report PDFs (rendered, sent, marked sent)",
                static_cast<long long>(reports.sent.size()), pdf, double(reports.sent.size()) / pdf);
    if (!images.failed.isEmpty() || !imagesOverTls.failed.isEmpty() || !reports.failed.isEmpty())
        std::printf("failures: %s\n", qPrintable((images.failed + imagesOverTls.failed + reports.failed).first()));
    std::printf("target: >= 50 image instances per second, in the clear and over TLS\n");
}

void worklistFigures()
{
    WorklistServer server;
    const QDate today = QDate::currentDate();
    for (int n = 0; n < 200; ++n) {
        const QString item = QStringLiteral("(0008,0005) CS [ISO_IR 192]\n(0008,0050) SH [ACC%1]\n"
                                            "(0010,0010) PN [病人^%1]\n(0010,0020) LO [W%1]\n"
                                            "(0010,0030) DA [19700101]\n(0010,0040) CS [F]\n"
                                            "(0020,000d) UI [2.25.%1]\n(0032,1060) LO [胃镜检查]\n"
                                            "(0040,0100) SQ (Sequence with undefined length #=1)\n"
                                            "(fffe,e000) na (Item with undefined length #=6)\n"
                                            "(0008,0060) CS [ES]\n(0040,0001) AE [EXAMSTATION]\n"
                                            "(0040,0002) DA [%2]\n(0040,0003) TM [%3]\n"
                                            "(0040,0007) LO [Upper GI]\n(0040,0009) SH [S%1]\n"
                                            "(fffe,e00d) na (ItemDelimitationItem)\n"
                                            "(fffe,e0dd) na (SequenceDelimitationItem)\n"
                                            "(0040,1001) SH [R%1]\n")
                                 .arg(n + 1)
                                 .arg(today.toString(QStringLiteral("yyyyMMdd")))
                                 .arg(QStringLiteral("%1%2")
                                          .arg(8 + n / 60, 2, 10, QLatin1Char('0'))
                                          .arg(n % 60, 2, 10, QLatin1Char('0')));
        if (!server.addItem(QStringLiteral("WORKLIST"), item)) {
            std::printf("worklist: skipped, %s\n", qPrintable(server.whyNot()));
            return;
        }
    }
    if (!server.start()) {
        std::printf("worklist: skipped, %s\n", qPrintable(server.whyNot()));
        return;
    }
    const DicomPeer peer{.host = QStringLiteral("127.0.0.1"),
                         .port = server.port(),
                         .calledAe = QStringLiteral("WORKLIST"),
                         .callingAe = QStringLiteral("EXAMSTATION")};
    std::vector<double> times;
    qsizetype answered = 0;
    for (int run = 0; run < 21; ++run) {
        QElapsedTimer timer;
        timer.start();
        answered = WorklistClient::query(peer, today).size();
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    std::printf("\nworklist query, 200 scheduled items: %lld answered, median %.1f ms (min %.1f, max %.1f; 21 "
                "runs)\ntarget: <= 200 ms\n",
                static_cast<long long>(answered), times[times.size() / 2], times.front(), times.back());
}

} // namespace

int main(int argc, char **argv)
{
    DicomAssociation::prepareProcess();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int examinations = argc > 1 ? std::max(1, atoi(argv[1])) : 50;
    deliveryFigures(examinations);
    worklistFigures();
    return 0;
}
