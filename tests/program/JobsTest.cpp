#include "ProgramRun.h"
#include "TestHome.h"

// Every job ends the same way: the exit code of the one table (README, "Command-line
// options"), and when it is not 0, one line "examstation: ..." on standard error.
TEST(JobsTest, EveryJobEndsWithTheTablesCodeAndOneLineWhenItDidNotSucceed)
{
    TestHome home;
    const struct {
        QStringList arguments;
        int status;
    } cases[] = {
        {{QStringLiteral("--outbox")}, 0},
        {{QStringLiteral("--export-report"), QStringLiteral("99999"), home.file(QStringLiteral("x.pdf"))}, 1},
        {{QStringLiteral("--export-report"), QStringLiteral("99999")}, 2},
        {{QStringLiteral("--undelete"), QStringLiteral("x")}, 2},
        {{QStringLiteral("--measurements"), QStringLiteral("99999")}, 1},
        {{QStringLiteral("--no-such-job")}, 2},
        {{QStringLiteral("--send-dicom"), QStringLiteral("all")}, 2}, // no PACS in config.ini
        {{QStringLiteral("--copy-database-to-server")}, 2}, // no server in config.ini
        {{QStringLiteral("--dicom-echo")}, 2}, // no DICOM partner in config.ini
    };
    // A runtime folder of its own, so that Qt has nothing to say about a missing one.
    QProcessEnvironment environment = withoutDisplay();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
    for (const auto &[arguments, status] : cases) {
        const ProgramRun run = runProgram(QStringLiteral(EXAMSTATION_BINARY),
                                          QStringList{QStringLiteral("--home"), home.path()} + arguments, environment);
        const QString said = arguments.join(u' ');
        EXPECT_EQ(run.status, status) << said.toStdString() << ": " << run.err.toStdString();
        if (status == 0)
            EXPECT_EQ(run.err, QString()) << said.toStdString();
        else
            EXPECT_TRUE(run.err.startsWith(QStringLiteral("examstation: ")) && run.err.count(u'\n') == 1)
                << said.toStdString() << ": " << run.err.toStdString();
    }
}
