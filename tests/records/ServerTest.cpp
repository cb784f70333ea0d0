// The records on a PostgreSQL server that restarts between two statements: nothing committed
// is lost, a transaction that met the restart is not there at all, the statement that met it
// fails with the server's message and the next one reconnects by itself.
#include "RecordsFixture.h"
#include "core/AppError.h"

TEST(ServerRecords, RestartLosesNothingAndTheNextStatementReconnects)
{
    TestHome home;
    PgServer server;
    if (!server.start())
        GTEST_SKIP() << "the private PostgreSQL server cannot start: " << server.error().toStdString();
    Database db;
    db.open(DatabaseParameters::postgresql(server.connection()));
    Statements::insertPatient(db, {.client_id = QStringLiteral("10001"), .client_name = QStringLiteral("Ann")});

    {
        ScopedTransaction transaction(db);
        Statements::insertPatient(db, {.client_id = QStringLiteral("10002"), .client_name = QStringLiteral("Bob")});
        ASSERT_TRUE(server.restart()) << server.error().toStdString();
        EXPECT_THROW(transaction.commit(), AppError);
    }
    EXPECT_TRUE(Statements::patientExists(db, QStringLiteral("10001")));
    EXPECT_FALSE(Statements::patientExists(db, QStringLiteral("10002")));

    ASSERT_TRUE(server.restart()) << server.error().toStdString();
    try {
        Statements::patientExists(db, QStringLiteral("10001"));
        ADD_FAILURE() << "a statement on the cut connection succeeded";
    } catch (const AppError &error) {
        EXPECT_FALSE(error.message().isEmpty());
    }
    EXPECT_EQ(Statements::loadPatient(db, QStringLiteral("10001"))->client_name, QStringLiteral("Ann"));
}

// A connection naming a primary and its streaming standby (libpq's multi-host form): the
// primary stops, the standby is promoted, and the next save lands there with every earlier one.
TEST(ServerRecords, StandbyThatTakesOverGetsTheNextSave)
{
    TestHome home;
    PgServer primary;
    PgServer standby;
    if (!primary.start())
        GTEST_SKIP() << "the private PostgreSQL server cannot start: " << primary.error().toStdString();
    ASSERT_TRUE(standby.startStandbyOf(primary)) << standby.error().toStdString();
    Database db;
    db.open(DatabaseParameters::postgresql(QStringLiteral("host=%1,%2 port=%3,%4 user=examstation dbname=examstation"
                                                          " target_session_attrs=read-write")
                                               .arg(primary.host(), standby.host())
                                               .arg(primary.port())
                                               .arg(standby.port())));
    const auto save = [&db](const QString &number) {
        ScopedTransaction transaction(db);
        Statements::lockPatientNumbers(db);
        Statements::insertPatient(db, {.client_id = number});
        Statements::insertExamRecord(db, {.client_id = number});
        transaction.commit();
    };
    save(QStringLiteral("10001"));
    save(QStringLiteral("10002"));

    primary.stop(QStringLiteral("fast"));
    ASSERT_TRUE(standby.promote()) << standby.error().toStdString();
    save(QStringLiteral("10003"));
    for (const char *number : {"10001", "10002", "10003"}) {
        EXPECT_TRUE(Statements::patientExists(db, QLatin1String(number))) << number;
        EXPECT_EQ(Statements::examRecordIds(db, QLatin1String(number)).size(), 1) << number;
    }
}
