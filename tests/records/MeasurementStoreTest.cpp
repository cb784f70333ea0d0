#include "records/MeasurementStore.h"

#include "RecordsFixture.h"
#include "records/DeletionJournal.h"

namespace {

const Measurements kLengths = {
    {.slot = 1,
     .start = {10, 20},
     .end = {110, 20},
     .lengthMm = 12.5,
     .mmPerPixel = 0.125,
     .calibrationRatio = 0.0625,
     .calibrationHeight = 480,
     .method = Measurement::kKnownLength,
     .observer = QStringLiteral("Li Na")},
    {.slot = 3,
     .start = {0, 0},
     .end = {30, 40},
     .lengthMm = 6.25,
     .mmPerPixel = 0.125,
     .calibrationRatio = 0.0625,
     .calibrationHeight = 480,
     .method = Measurement::kKnownLength},
};

} // namespace

// A record's lengths leave with it, by either deletion, and the journal puts them back.
TEST_F(RecordsTest, MeasurementsAreDeletedAndPutBackWithTheirRecord)
{
    const std::function<qint64(qint64)> deletions[] = {
        [&](qint64 id) { return DeletionJournal::deleteRecord(db, id); },
        [&](qint64) { return DeletionJournal::deletePatient(db, QStringLiteral("10001")); },
    };
    addPatient(QStringLiteral("10001"));
    for (const auto &deletion : deletions) {
        const qint64 id = addRecord(QStringLiteral("10001"));
        MeasurementStore::insert(db, id, kLengths);
        ASSERT_EQ(MeasurementStore::ofRecord(db, id), kLengths);
        ASSERT_EQ(MeasurementStore::ofPatient(db, QStringLiteral("10001")).size(), kLengths.size());

        const qint64 entry = deletion(id);
        EXPECT_EQ(count(QStringLiteral("select count(*) from t_measurements")), 0);
        DeletionJournal::restore(db, entry, home.path() + QStringLiteral("/images/"));
        EXPECT_EQ(MeasurementStore::ofRecord(db, id), kLengths);
        MeasurementStore::deleteOfRecord(db, id);
    }
}
