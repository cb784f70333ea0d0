#include "RecordsFixture.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>

// A process killed at any point of a save-like transaction (patient and record inserted
// together) leaves either neither row or both. The killed process is this test program
// itself, started with the child case below selected.

namespace {
const char *const kDbVariable = "EXAMSTATION_CRASH_DB";
const char *const kPointVariable = "EXAMSTATION_CRASH_POINT";

void dieAt(int point, int here)
{
    if (point == here)
        std::raise(SIGKILL);
}
} // namespace

TEST(CrashChild, SaveLikeTransaction)
{
    if (qEnvironmentVariableIsEmpty(kDbVariable))
        GTEST_SKIP() << "runs only as the child of SaveTransactionSurvivesKill";
    const int point = qEnvironmentVariableIntValue(kPointVariable);
    Database db;
    db.open(qEnvironmentVariable(kDbVariable));
    db.BeginTrans();
    Statements::insertPatient(db, {.client_id = QStringLiteral("10001"), .client_name = QStringLiteral("Ann")});
    dieAt(point, 1);
    Statements::ExamRecord record;
    record.client_id = QStringLiteral("10001");
    record.symptom5 = QString(200000, u'x'); // spans many pages of the log
    Statements::insertExamRecord(db, record);
    dieAt(point, 2);
    db.CommitTrans();
    dieAt(point, 3);
}

class SaveTransactionSurvivesKill : public ::testing::TestWithParam<int> { };

TEST_P(SaveTransactionSurvivesKill, LeavesNeitherOrBothRows)
{
    const int point = GetParam();
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("data.db"));
    {
        Database db;
        db.open(file); // the schema exists before the child starts
    }

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QLatin1String(kDbVariable), file);
    environment.insert(QLatin1String(kPointVariable), QString::number(point));
    environment.remove(QStringLiteral("EXAMSTATION_TEST_DATABASE")); // the child needs no server
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=CrashChild.*")});
    ASSERT_TRUE(child.waitForFinished(120000));
    ASSERT_EQ(child.exitStatus(), QProcess::CrashExit) << child.readAllStandardError().toStdString();

    Database db;
    db.open(file);
    const auto count = [&](const char *table) {
        QSqlQuery query = db.run(QStringLiteral("select count(*) from %1").arg(QLatin1String(table)), {});
        return query.next() ? query.value(0).toInt() : -1;
    };
    const int expected = point == 3 ? 1 : 0;
    EXPECT_EQ(count("t_clients"), expected);
    EXPECT_EQ(count("t_contents"), expected);
    QSqlQuery check = db.run(QStringLiteral("pragma integrity_check"), {});
    ASSERT_TRUE(check.next());
    EXPECT_EQ(check.value(0).toString(), QStringLiteral("ok"));
}

INSTANTIATE_TEST_SUITE_P(KillPoints, SaveTransactionSurvivesKill, ::testing::Values(1, 2, 3));
