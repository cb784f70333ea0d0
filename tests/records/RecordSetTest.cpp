#include "RecordsFixture.h"
#include "core/AppError.h"

class RecordSetTest : public RecordsTest {
protected:
    void SetUp() override
    {
        RecordsTest::SetUp();
        addPatient(QStringLiteral("10001"));
        addRecord(QStringLiteral("10002"), QStringLiteral("other patient"));
        for (const char *title : {"one", "two", "three"})
            addRecord(QStringLiteral("10001"), QLatin1String(title));
        set.open(db, QStringLiteral("10001"));
    }
    QString title() const { return set.asString(QStringLiteral("title")); }

    RecordSet set;
};

TEST_F(RecordSetTest, OpensOnFirstOfTheRecordsInIdOrder)
{
    EXPECT_EQ(set.RecordCount(), 3);
    EXPECT_FALSE(set.Bof());
    EXPECT_FALSE(set.Eof());
    EXPECT_EQ(title(), QStringLiteral("one"));
    set.Last();
    EXPECT_EQ(title(), QStringLiteral("three"));
}

TEST_F(RecordSetTest, MovingPastEitherEndSetsTheFlag)
{
    set.Last();
    set.Next();
    EXPECT_TRUE(set.Eof());
    EXPECT_FALSE(set.Bof());
    EXPECT_THROW(title(), AppError);
    set.First();
    set.Prior();
    EXPECT_TRUE(set.Bof());
    EXPECT_THROW(title(), AppError);
    set.Next();
    EXPECT_EQ(title(), QStringLiteral("one"));
    set.Next();
    EXPECT_EQ(title(), QStringLiteral("two"));
    set.Prior();
    EXPECT_EQ(title(), QStringLiteral("one"));
}

TEST_F(RecordSetTest, PatientWithoutRecordsIsBofAndEof)
{
    set.open(db, QStringLiteral("99999"));
    EXPECT_TRUE(set.isOpen());
    EXPECT_TRUE(set.Bof());
    EXPECT_TRUE(set.Eof());
    EXPECT_EQ(set.RecordCount(), 0);
    EXPECT_THROW(set.Delete(db), AppError);
}

TEST_F(RecordSetTest, DeleteMovesToFollowingRowOrNewLast)
{
    set.Next(); // "two"
    set.Delete(db);
    EXPECT_EQ(set.RecordCount(), 2);
    EXPECT_EQ(title(), QStringLiteral("three"));
    set.Delete(db);
    EXPECT_EQ(title(), QStringLiteral("one"));
    EXPECT_EQ(count(QStringLiteral("select count(*) from t_contents where client_id = '10001'")), 1);
    EXPECT_EQ(count(QStringLiteral("select count(*) from t_contents")), 2); // the other patient's stays
    set.Delete(db);
    EXPECT_TRUE(set.Bof() && set.Eof());
    set.open(db, QStringLiteral("10001"));
    EXPECT_EQ(set.RecordCount(), 0);
}

TEST_F(RecordSetTest, UnknownColumnIsAnError)
{
    EXPECT_THROW(set.asString(QStringLiteral("nope")), AppError);
}
