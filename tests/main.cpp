// Test entry: one QApplication for the whole run, on the offscreen platform unless another
// was asked for, so widget tests build real windows without a display.
#include "PgServer.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

namespace {
// With EXAMSTATION_TEST_DATABASE=postgresql every program folder of the run uses a schema of
// one private PostgreSQL server instead of its SQLite file; without a server every test is
// skipped with the reason.
class PostgreSQLHomes : public ::testing::Environment {
public:
    void SetUp() override
    {
        const QString reason = PgServer::unavailableReason(PgServer::forTestHomes());
        if (!reason.isEmpty())
            GTEST_SKIP() << reason.toStdString();
    }
    void TearDown() override { PgServer::stopTestHomes(); }
};
} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // No test reaches the machine's own CUPS: a print goes to a port where nothing listens,
    // unless a test points CUPS_SERVER at a private cupsd of its own.
    qputenv("CUPS_SERVER", "127.0.0.1:9");
    // What the program's main() sets before any thread (DicomAssociation::prepareProcess): DCMTK
    // reads it on every thread that connects, and Nagle's algorithm would slow every C-STORE; a
    // write to a cancelled association's socket must fail, not end the run.
    if (!qEnvironmentVariableIsSet("TCP_NODELAY"))
        qputenv("TCP_NODELAY", "1");
    std::signal(SIGPIPE, SIG_IGN);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    if (PgServer::forTestHomes())
        ::testing::AddGlobalTestEnvironment(new PostgreSQLHomes);
    return RUN_ALL_TESTS();
}
