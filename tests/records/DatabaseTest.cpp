#include "RecordsFixture.h"
#include "core/AppError.h"
#include "core/TrimmedText.h"
#include "records/DeletionJournal.h"
#include "records/PatientText.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>

TEST(DatabaseOpen, FreshFolderGetsFileTablesAndIndexes)
{
    if (recordsOnServer())
        GTEST_SKIP() << "about the SQLite file";
    TestHome home;
    Database db;
    db.open();
    EXPECT_TRUE(QFile::exists(home.file(QStringLiteral("data/data.db"))));
    QSqlQuery objects = db.run(QStringLiteral("select name from sqlite_master order by name"), {});
    QStringList names;
    while (objects.next())
        names.append(objects.value(0).toString());
    for (const char *expected : {"t_clients", "t_contents", "ix_clients_id_key", "ix_clients_name_key",
                                 "ix_clients_phone_key", "ix_clients_num", "ix_contents_client"})
        EXPECT_TRUE(names.contains(QLatin1String(expected))) << expected;

    QSqlQuery mode = db.run(QStringLiteral("pragma journal_mode"), {});
    ASSERT_TRUE(mode.next());
    EXPECT_EQ(mode.value(0).toString(), QStringLiteral("wal"));
    QSqlQuery sync = db.run(QStringLiteral("pragma synchronous"), {});
    ASSERT_TRUE(sync.next());
    EXPECT_EQ(sync.value(0).toInt(), 2); // FULL
}

TEST(DatabaseOpen, ReopeningKeepsTheRows)
{
    TestHome home;
    {
        Database db;
        db.open();
        Statements::insertPatient(db, {.client_id = QStringLiteral("10001"), .client_name = QStringLiteral("Ann")});
    }
    Database db;
    db.open();
    EXPECT_TRUE(Statements::patientExists(db, QStringLiteral("10001")));
}

TEST(DatabaseOpen, FileThatIsNoDatabaseIsReportedAndLeftAlone)
{
    if (recordsOnServer())
        GTEST_SKIP() << "about the SQLite file";
    TestHome home;
    const QByteArray garbage(4096, 'x');
    home.write(QStringLiteral("data/data.db"), garbage);
    Database db;
    try {
        db.open();
        FAIL() << "opening a broken file succeeded";
    } catch (const AppError &error) {
        EXPECT_FALSE(error.message().isEmpty());
    }
    EXPECT_FALSE(db.isOpen());
    EXPECT_EQ(home.read(QStringLiteral("data/data.db")), garbage);
}

// A database of another program (its own t_clients) is refused before anything changes it:
// not even its journal mode.
TEST(DatabaseOpen, ForeignSchemaIsRefusedAndTheFileLeftUnchanged)
{
    if (recordsOnServer())
        GTEST_SKIP() << "about the SQLite file";
    TestHome home;
    const QString file = home.file(QStringLiteral("data/data.db"));
    QDir().mkpath(home.file(QStringLiteral("data")));
    {
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("foreign"));
        other.setDatabaseName(file);
        ASSERT_TRUE(other.open());
        QSqlQuery(QStringLiteral("create table t_clients (card integer, owner text)"), other);
        other.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("foreign"));
    const QByteArray before = home.read(QStringLiteral("data/data.db"));
    ASSERT_FALSE(before.isEmpty());

    Database db;
    EXPECT_THROW(db.open(), AppError);
    EXPECT_FALSE(db.isOpen());
    EXPECT_EQ(home.read(QStringLiteral("data/data.db")), before);
}

TEST(DatabaseOpen, RowsWrittenWithoutKeysAreFoundAfterOpening)
{
    TestHome home;
    {
        Database db;
        db.open();
        db.run(QStringLiteral("insert into t_clients (client_id, client_name) values ('Ä7', 'Örs')"), {});
        db.run(QStringLiteral("insert into t_contents (client_id) values ('Ä7')"), {});
    }
    Database db;
    db.open();
    EXPECT_TRUE(Statements::patientExists(db, QStringLiteral("ä7")));
    EXPECT_EQ(Statements::searchPatients(db, Statements::SearchField::Name, QStringLiteral("ö")).size(), 1);
}

TEST(DatabaseOpen, StatementOnClosedConnectionThrows)
{
    TestHome home;
    Database db;
    EXPECT_THROW(Statements::patientExists(db, QStringLiteral("1")), AppError);
}

TEST(ScopedTransactionTest, RollsBackUnlessCommitted)
{
    TestHome home;
    Database db;
    db.open();
    {
        ScopedTransaction transaction(db);
        Statements::insertPatient(db, {.client_id = QStringLiteral("1")});
    }
    EXPECT_FALSE(Statements::patientExists(db, QStringLiteral("1")));
    {
        ScopedTransaction transaction(db);
        Statements::insertPatient(db, {.client_id = QStringLiteral("2")});
        transaction.commit();
    }
    EXPECT_TRUE(Statements::patientExists(db, QStringLiteral("2")));
}

TEST(PatientTextTest, TrimRemovesControlCharactersButNotInnerOnes)
{
    EXPECT_EQ(Text::trimmed(QStringLiteral("\t\x01 a b\r\n\x1f")), QStringLiteral("a b"));
    EXPECT_EQ(Text::trimmed(QString(QChar(0x3000)) + u'x'), QString(QChar(0x3000)) + u'x');
}

TEST(PatientTextTest, NumericValueOnlyForAsciiDigits)
{
    EXPECT_EQ(PatientText::numericValue(QStringLiteral("0099")), 99);
    EXPECT_EQ(PatientText::numericValue(QStringLiteral("100000")), 100000);
    EXPECT_FALSE(PatientText::numericValue(QStringLiteral("A12")));
    EXPECT_FALSE(PatientText::numericValue(QStringLiteral("")));
    EXPECT_FALSE(PatientText::numericValue(QStringLiteral("-5")));
    EXPECT_FALSE(PatientText::numericValue(QStringLiteral("1234567890123456789")));
}

TEST(PatientTextTest, PrefixRangeBoundsEveryTextWithTheFront)
{
    const PatientText::PrefixRange plain = PatientText::prefixRange(QStringLiteral("ab%"));
    EXPECT_EQ(plain.low, QStringLiteral("ab"));
    EXPECT_EQ(plain.high, QStringLiteral("ac"));
    EXPECT_FALSE(PatientText::prefixRange(QStringLiteral("%ab")).bounded());
    EXPECT_EQ(PatientText::prefixRange(QStringLiteral("a_c%")).high, QStringLiteral("b"));
    // The highest code point carries over into the one before it.
    const QString top = QString::fromUcs4(U"a\U0010FFFF");
    EXPECT_EQ(PatientText::prefixRange(top + u'%').high, QStringLiteral("b"));
    // Raising U+D7FF skips the surrogate range.
    EXPECT_EQ(PatientText::prefixRange(QString(QChar(0xD7FF)) + u'%').high, QString(QChar(0xE000)));
}

// A journal made before it was part of the schema (IDs drawn as max + 1) keeps its entries,
// and the next deletion takes the ID after them.
TEST_F(RecordsTest, OlderDeletionJournalGoesOnAfterItsEntries)
{
    db.execute(QStringLiteral("drop table t_deleted"));
    db.execute(QStringLiteral("create table t_deleted (ID integer not null primary key, deleted_at text not null,"
                              " kind text not null, client_id text, client_name text,"
                              " records integer not null default 0, content text not null, pictures text)"));
    db.execute(QStringLiteral("insert into t_deleted (ID, deleted_at, kind, content)"
                              " values (7, '2026-01-01 00:00:00', 'patient', '{}')"));
    db.close();
    db.open();
    addPatient(QStringLiteral("10001"));
    EXPECT_EQ(DeletionJournal::deletePatient(db, QStringLiteral("10001")), 8);
    EXPECT_EQ(DeletionJournal::list(db).size(), 2);
}

// Two rooms deleting at once on the server: neither waits for the other's journal entry, and
// each gets an ID of its own.
TEST_F(RecordsTest, TwoRoomsDeletingAtOnceTakeTwoJournalIds)
{
    if (!recordsOnServer())
        GTEST_SKIP() << "SQLite runs one writer at a time";
    addPatient(QStringLiteral("10001"));
    addPatient(QStringLiteral("10002"));
    Database other;
    other.open(db.parameters());
    other.execute(QStringLiteral("set lock_timeout = '2s'"));
    ScopedTransaction first(db);
    const qint64 firstId = DeletionJournal::deletePatient(db, QStringLiteral("10001"));
    ScopedTransaction second(other);
    const qint64 secondId = DeletionJournal::deletePatient(other, QStringLiteral("10002"));
    first.commit();
    second.commit();
    EXPECT_NE(firstId, secondId);
    EXPECT_EQ(DeletionJournal::list(db).size(), 2);
}
