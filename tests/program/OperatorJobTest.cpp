#include "ProgramRun.h"
#include "TestHome.h"

// With login on, the accounts are managed by jobs: the start names the way to the first
// administrator, and account jobs, --backup and --undelete need an administrator's password.
TEST(OperatorJobTest, LoginOnNeedsTheFirstAdministratorAndThenAnAdministrator)
{
    TestHome home;
    home.write(QStringLiteral("config.ini"), home.read(QStringLiteral("config.ini")) + "\n[security]\nlogin=1\n");
    const auto run = [&home](QStringList arguments, const QByteArray &input = QByteArray()) {
        QProcessEnvironment environment = withoutDisplay();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        return runProgram(QStringLiteral(EXAMSTATION_BINARY),
                          QStringList{QStringLiteral("--home"), home.path()} + arguments, environment, 120000, -1,
                          input);
    };
    const ProgramRun start = run({});
    EXPECT_EQ(start.status, 2);
    EXPECT_TRUE(start.err.contains(QStringLiteral("--add-operator NAME --role administrator")))
        << start.err.toStdString();

    const QStringList addBob = {QStringLiteral("--add-operator"), QStringLiteral("bob"), QStringLiteral("--role"),
                                QStringLiteral("operator")};
    const ProgramRun firstBob = run(addBob, "bobsecret1\n");
    EXPECT_EQ(firstBob.status, 1);
    EXPECT_TRUE(firstBob.err.contains(QStringLiteral("first account must be an administrator")))
        << firstBob.err.toStdString();
    ASSERT_EQ(run({QStringLiteral("--add-operator"), QStringLiteral("anna"), QStringLiteral("--role"),
                   QStringLiteral("administrator")},
                  "annasecret\n")
                  .status,
              0);
    const QStringList asAnna = {QStringLiteral("--as"), QStringLiteral("anna")};
    EXPECT_EQ(run(addBob, "bobsecret1\n").status, 1); // nobody named
    EXPECT_EQ(run(addBob + asAnna, "wrong-password\nbobsecret1\n").status, 1);
    ASSERT_EQ(run(addBob + asAnna, "annasecret\nbobsecret1\n").status, 0);

    const QTemporaryDir target;
    const QStringList asBob = {QStringLiteral("--as"), QStringLiteral("bob")};
    const ProgramRun backupByBob = run(QStringList{QStringLiteral("--backup"), target.path()} + asBob, "bobsecret1\n");
    EXPECT_EQ(backupByBob.status, 1);
    EXPECT_TRUE(backupByBob.err.contains(QStringLiteral("no administrator"))) << backupByBob.err.toStdString();
    EXPECT_EQ(run(QStringList{QStringLiteral("--undelete"), QStringLiteral("1")} + asBob, "bobsecret1\n").status, 1);
    EXPECT_EQ(
        run(QStringList{QStringLiteral("--disable-operator"), QStringLiteral("bob")} + asAnna, "annasecret\n").status,
        0);
    const ProgramRun list = run(QStringList{QStringLiteral("--operators")} + asAnna, "annasecret\n");
    ASSERT_EQ(list.status, 0) << list.err.toStdString();
    EXPECT_TRUE(list.out.contains(QStringLiteral("bob\toperator\tdisabled\t"))) << list.out.toStdString();
    EXPECT_FALSE(list.out.contains(QStringLiteral("$argon2id"))); // no hash is ever shown
    // The disabled account is refused like a wrong password.
    EXPECT_EQ(run(QStringList{QStringLiteral("--operators")} + asBob, "bobsecret1\n").status, 1);
}
