#include "security/AuditTrail.h"

#include "TestHome.h"
#include "core/Audit.h"
#include "records/AuditStore.h"
#include "records/Database.h"

#include <QRegularExpression>
#include <QSqlQuery>

#include <gtest/gtest.h>

namespace {

class AuditTrailTest : public ::testing::Test {
protected:
    void SetUp() override { db.open(); }

    // Five events recorded the way the program records them, through a trail of its own.
    void recordFive()
    {
        AuditTrail trail(db.parameters(), Workstation{.operatorName = "anna", .host = "room1", .aeTitle = "ES1"});
        for (int i = 1; i <= 5; ++i)
            Audit::record(Audit::Event::PatientOpened, QStringLiteral("P%1").arg(i));
    }

    void exec(const QString &statement) { db.execute(statement); }

    TestHome home;
    Database db;
};

TEST_F(AuditTrailTest, StoresEachEventWithItsCodesInOrder)
{
    {
        AuditTrail trail(db.parameters(), Workstation{.operatorName = "anna", .host = "room1", .aeTitle = "ES1"});
        Audit::record(Audit::Event::ApplicationStart);
        trail.setOperator(QStringLiteral("ben"));
        Audit::record(Audit::Event::ExaminationSaved, QStringLiteral("00042"), Audit::Outcome::SeriousFailure);
    }
    Audit::record(Audit::Event::ApplicationStop); // no trail any more: not stored

    QList<AuditEntry> entries;
    AuditStore::list(db, {}, [&entries](const AuditEntry &entry) { entries.append(entry); });
    ASSERT_EQ(entries.size(), 2);
    EXPECT_EQ(entries[0].id, 1);
    EXPECT_EQ(entries[0].operatorName, "anna");
    EXPECT_EQ(entries[0].event, "application-start");
    EXPECT_EQ(entries[0].eventId, "110100");
    EXPECT_EQ(entries[0].eventType, "110120");
    EXPECT_EQ(entries[1].operatorName, "ben");
    EXPECT_EQ(entries[1].host, "room1");
    EXPECT_EQ(entries[1].aeTitle, "ES1");
    EXPECT_EQ(entries[1].eventId, "110110");
    EXPECT_EQ(entries[1].action, "C");
    EXPECT_EQ(entries[1].patient, "00042");
    EXPECT_EQ(entries[1].outcome, 8);
    // UTC with milliseconds.
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$"))
                    .match(entries[1].at)
                    .hasMatch())
        << entries[1].at.toStdString();
    EXPECT_TRUE(AuditStore::verify(db).intact);
}

TEST_F(AuditTrailTest, ListsTheEntriesOfOnePatientAndOfADayRange)
{
    recordFive();
    exec(QStringLiteral("update t_audit set at = '2026-01-0' || id || 'T10:00:00.000Z'")); // days 1 to 5
    const auto ids = [this](const AuditStore::Filter &filter) {
        QList<qint64> found;
        AuditStore::list(db, filter, [&found](const AuditEntry &entry) { found.append(entry.id); });
        return found;
    };
    EXPECT_EQ(ids({.patient = "P3"}), QList<qint64>({3}));
    EXPECT_EQ(ids({.from = "2026-01-02", .to = "2026-01-04"}), QList<qint64>({2, 3, 4}));
    EXPECT_EQ(ids({.to = "2026-01-01"}), QList<qint64>({1}));
}

// Each change made behind the program's back is named at the entry where it happened.
TEST_F(AuditTrailTest, VerifyNamesTheFirstEntryChangedRemovedOrInserted)
{
    const struct {
        const char *what;
        QStringList statements;
        qint64 row;
        const char *found;
    } cases[] = {
        {"a patient number edited", {"update t_audit set patient = 'P9' where id = 3"}, 3, "changed"},
        {"a hash edited", {"update t_audit set hash = '" + QString(64, u'1') + "' where id = 4"}, 4, "changed"},
        {"the last entry edited", {"update t_audit set outcome = 4 where id = 5"}, 5, "changed"},
        {"an entry deleted", {"delete from t_audit where id = 2"}, 2, "removed"},
        {"an entry put in between",
         {"update t_audit set id = id + 100 where id >= 3", "update t_audit set id = id - 99 where id >= 100",
          "insert into t_audit select 3, at, operator, host, ae_title, event, event_id, event_type, action,"
          " 'P7', outcome, hash from t_audit where id = 2"},
         3,
         "inserted"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        exec(QStringLiteral("delete from t_audit"));
        recordFive();
        ASSERT_TRUE(AuditStore::verify(db).intact);
        for (const QString &statement : c.statements)
            exec(statement);
        const AuditStore::Check check = AuditStore::verify(db);
        EXPECT_FALSE(check.intact);
        EXPECT_EQ(check.row, c.row);
        EXPECT_EQ(check.what, c.found);
    }
}

} // namespace
