#include "ProgramRun.h"
#include "TestHome.h"
#include "records/Database.h"
#include "records/MeasurementStore.h"
#include "records/Statements.h"

// One line per length, oldest examination first, with its slot and calibration.
TEST(MeasurementsJobTest, ListsEachLengthWithDateSlotAndCalibration)
{
    TestHome home;
    {
        Database db;
        db.open();
        Statements::insertPatient(db, {QStringLiteral("10001"), QStringLiteral("Ann")});
        const qint64 id = Statements::insertExamRecord(
            db, {.client_id = QStringLiteral("10001"), .printtime = QDateTime(QDate(2026, 12, 1), QTime(9, 30))});
        MeasurementStore::insert(db, id,
                                 {{.slot = 3,
                                   .start = {0, 0},
                                   .end = {30, 40},
                                   .lengthMm = 6.254,
                                   .mmPerPixel = 0.125,
                                   .calibrationHeight = 720,
                                   .method = Measurement::kKnownLength}});
    }
    const ProgramRun run =
        runProgram(QStringLiteral(EXAMSTATION_BINARY),
                   {QStringLiteral("--home"), home.path(), QStringLiteral("--measurements"), QStringLiteral("10001")});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.out,
              QStringLiteral("2026-12-01 09:30\tslot 3\t6.25 mm\t0.125 mm/pixel, calibrated at height 720"
                             " (known length)\n"));
}
