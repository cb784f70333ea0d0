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
     .method = Measurement::kKnownLength},
    {.slot = 3,
     .start = {0, 0},
     .end = {30, 40},
     .lengthMm = 6.25,
     .mmPerPixel = 0.125,
     .calibrationRatio = 0.0625,
     .calibrationHeight = 480,
     .method = Measurement::kKnownLength},
};

bool sameLengths(const Measurements &got)
{
    if (got.size() != kLengths.size())
        return false;
    for (qsizetype i = 0; i < got.size(); ++i) {
        const Measurement &a = got[i];
        const Measurement &b = kLengths[i];
        if (a.slot != b.slot || a.start != b.start || a.end != b.end || a.lengthMm != b.lengthMm
            || a.mmPerPixel != b.mmPerPixel || a.calibrationRatio != b.calibrationRatio
            || a.calibrationHeight != b.calibrationHeight || a.method != b.method)
            return false;
    }
    return true;
}

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
        ASSERT_TRUE(sameLengths(MeasurementStore::ofRecord(db, id)));
        ASSERT_EQ(MeasurementStore::ofPatient(db, QStringLiteral("10001")).size(), kLengths.size());

        const qint64 entry = deletion(id);
        EXPECT_EQ(count(QStringLiteral("select count(*) from t_measurements")), 0);
        DeletionJournal::restore(db, entry, home.path() + QStringLiteral("/images/"));
        EXPECT_TRUE(sameLengths(MeasurementStore::ofRecord(db, id)));
        MeasurementStore::deleteOfRecord(db, id);
    }
}
