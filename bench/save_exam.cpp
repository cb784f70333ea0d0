// Saving an examination with four 640 x 480 pictures, from the generate-report button to the
// reloaded sheet, on offscreen widgets with the message boxes answered at once; beside it the
// parts of a save. The program folder is a temporary folder below the current one (or the
// folder given by EXAMSTATION_BENCH_DIR), so the durable commit hits the real disk.
//
// The same saves against a private PostgreSQL server over loopback run in the same program.
// With DICOM sending on, the save also queues its instances and a background worker delivers
// them to a private Orthanc while the next saves run (skipped when Orthanc cannot start); with
// procedure steps and storage commitment on too, for a worklist patient.
//
// Usage: bench_save_exam [google-benchmark options]
#include "DicomServers.h"
#include "PgServer.h"
#include "SheetRig.h"
#include "core/Dialogs.h"
#include "core/ProgramFolder.h"
#include "dicom/StudyInstance.h"
#include "exam/DicomOutbox.h"
#include "exam/ExaminationSheet.h"
#include "exam/PictureSlots.h"
#include "records/Database.h"
#include "records/Statements.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

std::map<std::string, std::vector<double>> g_times; // per benchmark, ms per save

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The sheet with every object the save touches, in a program folder of its own.
// The loopback server of the "on server" benchmarks, started at their first use.
std::unique_ptr<PgServer> g_server;

QString serverConnection()
{
    static int schemas = 0;
    if (!g_server)
        g_server = std::make_unique<PgServer>(true);
    if (!g_server->isRunning() && !g_server->start()) {
        std::fprintf(stderr, "no PostgreSQL server: %s\n", qPrintable(g_server->error()));
        return {};
    }
    return g_server->connection(QStringLiteral("examstation"), QStringLiteral("bench_%1").arg(++schemas));
}

// The sheet as the window builds it (SheetRig), its boxes answered at once, in a program
// folder of its own.
struct Workstation {
    explicit Workstation(const QString &connection = QString())
        : folder(QDir(qEnvironmentVariable("EXAMSTATION_BENCH_DIR", QDir::currentPath())).filePath("save-bench-XXXXXX"))
        , rig((ProgramFolder::set(folder.path()),
               connection.isEmpty() ? DatabaseParameters::sqlite(DatabaseParameters::defaultFile())
                                    : DatabaseParameters::postgresql(connection)),
              [](const QString &) {})
        , patient(rig.patient)
        , controls(rig.controls)
        , db(rig.db)
        , pictureSlots(rig.pictureSlots)
        , sheet(rig.examSheet)
    {
        Dialogs::setBoxHandler([](Dialogs::Kind, const QString &, const QString &) { return Dialogs::Answer::Ok; });
    }

    ~Workstation() { Dialogs::setBoxHandler({}); }

    // A complete sheet; `run` makes the four snapshots and their file names new.
    void fill(const QString &number, int run)
    {
        rig.enterPatient(number, QStringLiteral("李王"), QStringLiteral("女"), QStringLiteral("42"), QString(),
                         QString());
        controls.cbTitle->setEditText(QStringLiteral("Gastroscopy"));
        controls.edtDoctor->setText(QStringLiteral("Dr. Who"));
        controls.mmSymp5->setPlainText(QStringLiteral("Mucosa smooth, no bleeding. ").repeated(8));
        controls.diagnosisLines[0]->setEditText(QStringLiteral("chronic superficial gastritis"));
        controls.diagnosisLines[1]->setEditText(QStringLiteral("duodenal ulcer"));
        controls.treatmentLines[0]->setEditText(QStringLiteral("omeprazole 20 mg"));
        for (int slot = 1; slot <= 4; ++slot) {
            pictureSlots.setSnapshot(slot, SheetRig::testPicture(640, 480, slot * 31 + run),
                                     QStringLiteral("20160501%1%2.jpg").arg(run, 6, 10, QLatin1Char('0')).arg(slot));
            pictureSlots.setCaptureSize(slot, QSize(640, 480));
        }
    }

    QTemporaryDir folder;
    SheetRig rig;
    PatientControls &patient;
    SheetControls &controls;
    Database &db;
    PictureSlots &pictureSlots;
    ExaminationSheet &sheet;
};

// Times work() once per iteration; prepare() runs before it, untimed.
template<typename Prepare, typename Work>
void timed(benchmark::State &state, const char *name, Prepare &&prepare, Work &&work)
{
    std::vector<double> &times = g_times[name];
    for (auto _ : state) {
        prepare();
        QElapsedTimer timer;
        timer.start();
        work();
        const double ms = timer.nsecsElapsed() / 1e6;
        times.push_back(ms);
        state.SetIterationTime(ms / 1000);
    }
    state.counters["median_ms"] = median(times);
}

template<typename Work> void timed(benchmark::State &state, const char *name, Work &&work)
{
    timed(
        state, name, [] {}, std::forward<Work>(work));
}

// The whole button: checks, phrases, four new JPEG files, the record committed durably, then
// the reload that decodes the four files again. Four fresh snapshots for a known patient each
// time, as when the operator examines a series of patients already on file.
void BM_SaveKnownPatient(benchmark::State &state)
{
    Workstation station;
    station.fill(QStringLiteral("10001"), 0);
    station.sheet.btnGenReportClick(); // the patient exists from now on; phrases remembered
    int run = 1;
    timed(
        state, "save: known patient, 4 new pictures", [&] { station.fill(QStringLiteral("10001"), run++); },
        [&] {
            if (!station.sheet.btnGenReportClick())
                state.SkipWithError("save failed");
        });
}

// The same save with 8 measured lengths, two on each picture: their rows go into the save's
// transaction and come back with the reload.
void BM_SaveKnownPatientMeasured(benchmark::State &state)
{
    Workstation station;
    const auto measure = [&](int run) {
        station.fill(QStringLiteral("10001"), run);
        for (int slot = 1; slot <= 4; ++slot) {
            Measurements lines;
            for (int i = 0; i < 2; ++i)
                lines.append({.slot = slot,
                              .start = {10 * i, 20},
                              .end = {300, 40 * slot},
                              .lengthMm = 30.0 + i,
                              .mmPerPixel = 0.1,
                              .calibrationRatio = 0.1,
                              .calibrationHeight = 480,
                              .method = Measurement::kKnownLength});
            station.pictureSlots.setMeasurements(slot, lines);
        }
    };
    measure(0);
    station.sheet.btnGenReportClick();
    int run = 1;
    timed(
        state, "save: known patient, 4 new pictures, 8 lengths", [&] { measure(run++); },
        [&] {
            if (!station.sheet.btnGenReportClick())
                state.SkipWithError("save failed");
        });
}

// The same save with DICOM sending on: four pictures and the report queued in the save's
// transaction, delivered by the outbox's worker to Orthanc meanwhile.
void BM_SaveKnownPatientDicomOn(benchmark::State &state)
{
    OrthancServer orthanc;
    if (!orthanc.start()) {
        state.SkipWithError(qPrintable(orthanc.whyNot()));
        return;
    }
    Workstation station;
    QDir().mkpath(ProgramFolder::file("data"));
    QFile::copy(QStringLiteral(EXAMSTATION_DATA_SOURCE "/1.fr3"), ProgramFolder::file("data/1.fr3"));
    const DicomPeer pacs{.host = QStringLiteral("127.0.0.1"),
                         .port = orthanc.dicomPort(),
                         .calledAe = orthanc.aet(),
                         .callingAe = QStringLiteral("EXAMSTATION")};
    OutboxWorker worker(station.db.parameters(), pacs,
                        {ProgramFolder::file("images/"), ProgramFolder::file("data/1.fr3"), QString()});
    station.sheet.setOutbox([&worker] { worker.wake(); });
    worker.start();
    station.fill(QStringLiteral("10001"), 0);
    station.sheet.btnGenReportClick();
    int run = 1;
    timed(
        state, "save: known patient, 4 new pictures, DICOM on", [&] { station.fill(QStringLiteral("10001"), run++); },
        [&] {
            if (!station.sheet.btnGenReportClick())
                state.SkipWithError("save failed");
        });
    worker.stop();
    state.counters["delivered"] = double(orthanc.get(QStringLiteral("/instances")).toArray().size());
}

// The same save of a worklist patient with everything a hospital connects on: the instances
// queued for Orthanc, the procedure step's COMPLETED queued for the RIS (the dcmjs-dimse peer;
// its IN PROGRESS at the untimed pick of the order), and the worker asking Orthanc to commit what
// it stored, Orthanc answering at the station's listener, all while the next saves run.
void BM_SaveWorklistPatientSendingStepsCommitOn(benchmark::State &state)
{
    OrthancServer orthanc;
    MppsServer ris;
    const quint16 listenPort = freeLoopbackPort();
    orthanc.answerCommitmentsAt(listenPort);
    if (!orthanc.start() || !ris.start()) {
        state.SkipWithError(qPrintable(orthanc.whyNot() + ris.whyNot()));
        return;
    }
    Workstation station;
    QDir().mkpath(ProgramFolder::file("data"));
    QFile::copy(QStringLiteral(EXAMSTATION_DATA_SOURCE "/1.fr3"), ProgramFolder::file("data/1.fr3"));
    OutboxWorker worker(station.db.parameters(), orthanc.peer(),
                        {ProgramFolder::file("images/"), ProgramFolder::file("data/1.fr3"), QString()}, nullptr,
                        ris.peer());
    worker.setCommitment({.host = QStringLiteral("127.0.0.1"),
                          .port = listenPort,
                          .calledAe = QStringLiteral("EXAMSTATION"),
                          .callingAe = orthanc.aet()});
    station.sheet.setOutbox([&worker] { worker.wake(); });
    station.sheet.setProcedureSteps(QStringLiteral("EXAMSTATION"));
    worker.start();
    int run = 0;
    const auto pick = [&] {
        station.sheet.setWorklistOrder(QStringLiteral("10001"),
                                       {.studyUid = StudyInstance::newUid(),
                                        .accessionNumber = QStringLiteral("ACC%1").arg(run),
                                        .requestedProcedureId = QStringLiteral("RP%1").arg(run),
                                        .scheduledStepId = QStringLiteral("SPS%1").arg(run),
                                        .patientName = QStringLiteral("李^王")});
        station.fill(QStringLiteral("10001"), run++);
    };
    pick();
    station.sheet.btnGenReportClick();
    timed(state, "save: worklist patient, DICOM+MPPS+commit", pick, [&] {
        if (!station.sheet.btnGenReportClick())
            state.SkipWithError("save failed");
    });
    // What the PACS committed by the end (the rest is asked for or answered after the last save).
    QThread::msleep(3000);
    worker.stop();
    int committed = 0;
    for (const DicomOutbox::Entry &entry : DicomOutbox::entries(station.db))
        committed += entry.commitment == u"committed";
    state.counters["committed"] = committed;
    state.counters["steps_sent"] = double(ris.received().size());
}

// A new patient every time, with one new diagnosis phrase (one more write of system.ini).
void BM_SaveNewPatientNewPhrase(benchmark::State &state)
{
    Workstation station;
    int next = 20001;
    timed(
        state, "save: new patient + new phrase, 4 pictures",
        [&] {
            station.fill(QString::number(next), next);
            station.controls.diagnosisLines[3]->setEditText(QStringLiteral("finding %1").arg(next));
            ++next;
        },
        [&] {
            if (!station.sheet.btnGenReportClick())
                state.SkipWithError("save failed");
        });
}

// The same sheet saved again: the reloaded pictures are already their files.
void BM_SaveSameSheetAgain(benchmark::State &state)
{
    Workstation station;
    station.fill(QStringLiteral("10001"), 0);
    station.sheet.btnGenReportClick();
    timed(state, "save: same sheet again (no new pictures)", [&] {
        if (!station.sheet.btnGenReportClick())
            state.SkipWithError("save failed");
    });
}

// The two saves on the server: patient, four pictures and record in one transaction there.
void BM_SaveKnownPatientOnServer(benchmark::State &state)
{
    const QString connection = serverConnection();
    if (connection.isEmpty()) {
        state.SkipWithError("no PostgreSQL server");
        return;
    }
    Workstation station(connection);
    station.fill(QStringLiteral("10001"), 0);
    station.sheet.btnGenReportClick();
    int run = 1;
    timed(
        state, "server: known patient, 4 new pictures", [&] { station.fill(QStringLiteral("10001"), run++); },
        [&] {
            if (!station.sheet.btnGenReportClick())
                state.SkipWithError("save failed");
        });
}

void BM_SaveNewPatientOnServer(benchmark::State &state)
{
    const QString connection = serverConnection();
    if (connection.isEmpty()) {
        state.SkipWithError("no PostgreSQL server");
        return;
    }
    Workstation station(connection);
    int next = 20001;
    timed(
        state, "server: new patient + new phrase, 4 pictures",
        [&] {
            station.fill(QString::number(next), next);
            station.controls.diagnosisLines[3]->setEditText(QStringLiteral("finding %1").arg(next));
            ++next;
        },
        [&] {
            if (!station.sheet.btnGenReportClick())
                state.SkipWithError("save failed");
        });
}

void BM_WriteFourSlotFiles(benchmark::State &state)
{
    Workstation station;
    station.fill(QStringLiteral("10001"), 0);
    const QString images = ProgramFolder::file("images/");
    timed(state, "part: 4 x SaveSlotPicture, one after another", [&] {
        for (int slot = 1; slot <= 4; ++slot)
            station.pictureSlots.SaveSlotPicture(images, slot);
    });
}

void BM_DurableInsert(benchmark::State &state)
{
    Workstation station;
    Statements::ExamRecord record;
    record.client_id = QStringLiteral("10001");
    record.symptom5 = QStringLiteral("Mucosa smooth, no bleeding. ").repeated(8);
    timed(state, "part: statements 7+9, durable commit", [&] {
        ScopedTransaction transaction(station.db);
        Statements::patientExists(station.db, record.client_id);
        record.printtime = QDateTime::currentDateTime();
        Statements::insertExamRecord(station.db, record);
        transaction.commit();
    });
}

void BM_Reload(benchmark::State &state)
{
    Workstation station;
    station.fill(QStringLiteral("10001"), 0);
    station.sheet.btnGenReportClick();
    timed(state, "part: LoadLastExamination (4 pictures)",
          [&] { station.sheet.LoadLastExamination(QStringLiteral("10001")); });
}

BENCHMARK(BM_SaveKnownPatient)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(101);
BENCHMARK(BM_SaveKnownPatientMeasured)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(101);
BENCHMARK(BM_SaveKnownPatientDicomOn)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(101);
BENCHMARK(BM_SaveWorklistPatientSendingStepsCommitOn)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(101);
BENCHMARK(BM_SaveNewPatientNewPhrase)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(101);
BENCHMARK(BM_SaveSameSheetAgain)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(101);
BENCHMARK(BM_SaveKnownPatientOnServer)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(101);
BENCHMARK(BM_SaveNewPatientOnServer)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(101);
BENCHMARK(BM_WriteFourSlotFiles)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(101);
BENCHMARK(BM_DurableInsert)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(101);
BENCHMARK(BM_Reload)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(101);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_server.reset();

    std::printf("\n%-44s %10s %10s %10s\n", "examination save (ms per run)", "median", "min", "max");
    for (const auto &[name, times] : g_times) {
        if (times.empty())
            continue;
        const auto [low, high] = std::minmax_element(times.begin(), times.end());
        std::printf("%-44s %10.2f %10.2f %10.2f\n", name.c_str(), median(times), *low, *high);
    }
    std::printf("target: save (button to reloaded sheet) median <= 30 ms; on the server <= 50 ms\n");
    return 0;
}
