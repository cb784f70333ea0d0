#include "ProgramRun.h"
#include "TestHome.h"
#include "records/Database.h"

// The jobs of the audit trail as an administrator runs them: each reading of the trail is an
// entry of its own, the listing is tab-separated, and a row edited behind the program's back
// makes --verify-audit fail naming it.
TEST(AuditTest, JobsListTheTrailAndVerifyNamesAnEditedRow)
{
    TestHome home;
    const auto run = [&home](QStringList arguments) {
        return runProgram(QStringLiteral(EXAMSTATION_BINARY),
                          QStringList{QStringLiteral("--home"), home.path()} + arguments);
    };
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(run({QStringLiteral("--audit"), QStringLiteral("--patient"), QStringLiteral("7")}).status, 0);
    const ProgramRun listing = run({QStringLiteral("--audit")});
    ASSERT_EQ(listing.status, 0) << listing.err.toStdString();
    const QStringList lines = listing.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3);
    const QStringList third = lines[2].split(u'\t');
    ASSERT_EQ(third.size(), 11);
    EXPECT_EQ(third[0], "3");
    EXPECT_EQ(third[5], "audit-read");
    EXPECT_EQ(third[6], "110101");
    EXPECT_EQ(third[9], "7");

    const ProgramRun whole = run({QStringLiteral("--verify-audit")});
    EXPECT_EQ(whole.status, 0) << whole.err.toStdString();
    EXPECT_TRUE(whole.out.contains(QStringLiteral("4 entries"))) << whole.out.toStdString();
    {
        Database db;
        db.open();
        db.execute(QStringLiteral("update t_audit set operator = 'nobody' where id = 2"));
    }
    const ProgramRun tampered = run({QStringLiteral("--verify-audit")});
    EXPECT_EQ(tampered.status, 1);
    EXPECT_TRUE(tampered.err.contains(QStringLiteral("entry 2 was changed"))) << tampered.err.toStdString();
    EXPECT_EQ(run({QStringLiteral("--audit"), QStringLiteral("--from"), QStringLiteral("10.12.2026")}).status, 2);
}
