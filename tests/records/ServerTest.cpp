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
