// What the audit trail costs: opening a patient (the exact number typed fills the fields and
// the sheet) and saving an examination, each with the trail recording and without it, and
// --verify-audit's check over a trail of 1,000,000 entries. The program folder is a temporary
// folder below the current one (or EXAMSTATION_BENCH_DIR), so commits hit the real disk.
//
// Usage: bench_audit [google-benchmark options]
#include "SheetRig.h"
#include "core/Dialogs.h"
#include "core/ProgramFolder.h"
#include "records/AuditStore.h"
#include "security/AuditTrail.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

std::map<std::string, std::vector<double>> g_times; // per benchmark, ms per run

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The sheet in a program folder of its own, with a known patient and one record, and the trail
// recording when asked.
struct Station {
    explicit Station(bool audited)
        : folder(
            QDir(qEnvironmentVariable("EXAMSTATION_BENCH_DIR", QDir::currentPath())).filePath("audit-bench-XXXXXX"))
        , rig((ProgramFolder::set(folder.path()), DatabaseParameters::sqlite(DatabaseParameters::defaultFile())),
              [](const QString &) {})
    {
        Dialogs::setBoxHandler([](Dialogs::Kind, const QString &, const QString &) { return Dialogs::Answer::Ok; });
        if (audited)
            trail.emplace(rig.db.parameters(), Workstation::thisComputer(QStringLiteral("EXAMSTATION")));
        fill(0);
        rig.examSheet.btnGenReportClick();
    }
    ~Station()
    {
        trail.reset();
        Dialogs::setBoxHandler({});
    }

    void fill(int run)
    {
        rig.enterPatient(QStringLiteral("10001"), QStringLiteral("李王"));
        rig.controls.cbTitle->setEditText(QStringLiteral("Gastroscopy"));
        rig.controls.edtDoctor->setText(QStringLiteral("Dr. Who"));
        rig.controls.diagnosisLines[0]->setEditText(QStringLiteral("chronic superficial gastritis"));
        rig.controls.treatmentLines[0]->setEditText(QStringLiteral("omeprazole 20 mg"));
        for (int slot = 1; slot <= 4; ++slot) {
            rig.pictureSlots.setSnapshot(
                slot, SheetRig::testPicture(640, 480, slot * 31 + run),
                QStringLiteral("20160501%1%2.jpg").arg(run, 6, 10, QLatin1Char('0')).arg(slot));
            rig.pictureSlots.setCaptureSize(slot, QSize(640, 480));
        }
    }

    QTemporaryDir folder;
    SheetRig rig;
    std::optional<AuditTrail> trail;
};

template<typename Prepare, typename Work>
void timed(benchmark::State &state, const std::string &name, Prepare &&prepare, Work &&work)
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

// The number typed whole into an empty field: the look-up fills the patient and the sheet.
void BM_OpenPatient(benchmark::State &state)
{
    const bool audited = state.range(0) != 0;
    Station station(audited);
    QLineEdit *number = station.rig.patient.edtNumber;
    timed(
        state, audited ? "open a patient, audited" : "open a patient, not audited",
        [&] {
            number->clear();
            QCoreApplication::processEvents();
        },
        [&] { number->setText(QStringLiteral("10001")); });
}

void BM_Save(benchmark::State &state)
{
    const bool audited = state.range(0) != 0;
    Station station(audited);
    int run = 1;
    timed(
        state, audited ? "save, 4 new pictures, audited" : "save, 4 new pictures, not audited",
        [&] { station.fill(run++); },
        [&] {
            if (!station.rig.examSheet.btnGenReportClick())
                state.SkipWithError("save failed");
        });
}

// --verify-audit's work: the whole chain read and checked once.
void BM_VerifyMillion(benchmark::State &state)
{
    QTemporaryDir folder(
        QDir(qEnvironmentVariable("EXAMSTATION_BENCH_DIR", QDir::currentPath())).filePath("audit-bench-XXXXXX"));
    ProgramFolder::set(folder.path());
    Database db;
    db.open(DatabaseParameters::sqlite(DatabaseParameters::defaultFile()));
    const QString start = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    for (int batch = 0; batch < 100; ++batch) {
        QList<AuditEntry> entries;
        for (int i = 0; i < 10000; ++i) {
            entries.append({.at = start,
                            .operatorName = QStringLiteral("anna"),
                            .host = QStringLiteral("room1"),
                            .aeTitle = QStringLiteral("EXAMSTATION"),
                            .event = QStringLiteral("patient-opened"),
                            .eventId = QStringLiteral("110110"),
                            .action = QStringLiteral("R"),
                            .patient = QString::number(10000 + i)});
        }
        AuditStore::append(db, entries);
    }
    timed(
        state, "verify 1,000,000 entries", [] {},
        [&] {
            const AuditStore::Check check = AuditStore::verify(db);
            if (!check.intact || check.entries != 1000000)
                state.SkipWithError("the trail does not verify");
        });
}

BENCHMARK(BM_OpenPatient)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(201);
BENCHMARK(BM_Save)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(101);
BENCHMARK(BM_VerifyMillion)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("\n%-44s %10s %10s %10s\n", "audit trail (ms per run)", "median", "min", "max");
    for (const auto &[name, times] : g_times) {
        if (times.empty())
            continue;
        const auto [low, high] = std::minmax_element(times.begin(), times.end());
        std::printf("%-44s %10.2f %10.2f %10.2f\n", name.c_str(), median(times), *low, *high);
    }
    std::printf("target: auditing adds <= 1 ms (median) to opening a patient and to a save; verify 1,000,000 "
                "entries <= 10 s\n");
    return 0;
}
