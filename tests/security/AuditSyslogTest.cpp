// The audit trail sent to a private rsyslogd over TLS, as to a hospital's audit repository.
#include "DicomServers.h"
#include "TestHome.h"
#include "core/Audit.h"
#include "core/inifunc.h"
#include "records/Database.h"
#include "security/AuditTrail.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QThread>

#include <gtest/gtest.h>

namespace {

class AuditSyslogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!server.start())
            GTEST_SKIP() << "no audit repository: " << qPrintable(server.whyNot());
        db.open();
    }

    SyslogSettings repository() const
    {
        return {.host = QStringLiteral("localhost"),
                .port = server.port(),
                .caFile = server.caFile(),
                .certificateFile = server.clientCertificate(),
                .keyFile = server.clientKey()};
    }
    std::unique_ptr<AuditTrail> trail(const SyslogSettings &settings)
    {
        return std::make_unique<AuditTrail>(
            db.parameters(), Workstation{.operatorName = "anna", .host = "room1", .aeTitle = "ES1"}, settings);
    }
    std::unique_ptr<AuditTrail> trail() { return trail(repository()); }

    // The messages once `count` arrived (bounded wait).
    QList<QByteArray> receivedWhen(qsizetype count) const
    {
        const QDeadlineTimer deadline(30000);
        while (server.received().size() < count && !deadline.hasExpired())
            QThread::msleep(50);
        return server.received();
    }

    // The patient numbers of the messages, in their order.
    static QStringList patients(const QList<QByteArray> &messages)
    {
        QStringList numbers;
        for (const QByteArray &message : messages)
            numbers << QRegularExpression(QStringLiteral("ParticipantObjectID=\"([^\"]+)\""))
                           .match(QString::fromUtf8(message))
                           .captured(1);
        return numbers;
    }

    SyslogServer server;
    TestHome home;
    Database db;
};

TEST_F(AuditSyslogTest, EachEntryArrivesAsAnRfc5424MessageHoldingAValidAuditMessage)
{
    // The repository as the clinic names it in config.ini.
    WriteConfigString("audit", "syslog_host", "localhost");
    WriteConfigString("audit", "syslog_port", QString::number(server.port()));
    WriteConfigString("audit", "syslog_ca", server.caFile());
    WriteConfigString("audit", "syslog_certificate", server.clientCertificate());
    WriteConfigString("audit", "syslog_key", server.clientKey());
    {
        const auto sender = trail(SyslogSettings::fromConfig());
        Audit::record(Audit::Event::ApplicationStart);
        Audit::record(Audit::Event::ExaminationSaved, QStringLiteral("00042"), Audit::Outcome::SeriousFailure);
        ASSERT_EQ(receivedWhen(2).size(), 2);
    }
    const QRegularExpression syslog(
        QStringLiteral("^<85>1 \\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z room1 examstation \\d+ "
                       "DICOM\\+RFC3881 - \\x{FEFF}(<\\?xml .*</AuditMessage>)$"));
    const QString schema = qEnvironmentVariable("EXAMSTATION_SOURCE_DIR") + "/tests/security/audit-message.xsd";
    for (const QByteArray &line : server.received()) {
        const QRegularExpressionMatch match = syslog.match(QString::fromUtf8(line));
        ASSERT_TRUE(match.hasMatch()) << line.constData();
        QTemporaryFile xml;
        ASSERT_TRUE(xml.open());
        xml.write(match.captured(1).toUtf8());
        xml.close();
        QProcess xmllint;
        xmllint.setProcessChannelMode(QProcess::MergedChannels);
        xmllint.start(QStringLiteral("xmllint"), {"--noout", "--schema", schema, xml.fileName()});
        ASSERT_TRUE(xmllint.waitForFinished(30000));
        EXPECT_EQ(xmllint.exitCode(), 0) << xmllint.readAll().constData();
    }
    const QList<QByteArray> messages = server.received();
    EXPECT_TRUE(messages[0].contains("csd-code=\"110120\"")); // application start
    EXPECT_TRUE(messages[1].contains("EventOutcomeIndicator=\"8\""));
    EXPECT_TRUE(messages[1].contains("UserID=\"anna\""));
    EXPECT_TRUE(messages[1].contains("AlternativeUserID=\"AETITLES=ES1\""));
    EXPECT_EQ(patients(messages), QStringList({"", "00042"}));
}

// Down while the program runs, and down when it ends: what waits in the queue arrives once.
TEST_F(AuditSyslogTest, ARepositoryStoppedAndStartedAgainReceivesEverythingOnce)
{
    auto sender = trail();
    Audit::record(Audit::Event::PatientOpened, QStringLiteral("P1"));
    ASSERT_EQ(receivedWhen(1).size(), 1);
    server.stop();
    Audit::record(Audit::Event::PatientOpened, QStringLiteral("P2"));
    sender->flush();
    QThread::msleep(500); // the sender meets the stopped repository
    ASSERT_TRUE(server.start()) << qPrintable(server.whyNot());
    EXPECT_EQ(patients(receivedWhen(2)), QStringList({"P1", "P2"}));

    server.stop();
    Audit::record(Audit::Event::PatientOpened, QStringLiteral("P3"));
    sender.reset();
    ASSERT_TRUE(server.start()) << qPrintable(server.whyNot());
    sender = trail();
    Audit::record(Audit::Event::PatientOpened, QStringLiteral("P4"));
    EXPECT_EQ(patients(receivedWhen(4)), QStringList({"P1", "P2", "P3", "P4"}));
    sender.reset();
    EXPECT_EQ(server.received().size(), 4);
}

// The repository refuses a workstation without its certificate after the handshake (TLS 1.3):
// the entry waits for the workstation with its certificate.
TEST_F(AuditSyslogTest, AnEntryRefusedWithTheHandshakeWaitsInTheQueue)
{
    SyslogSettings anonymous = repository();
    anonymous.certificateFile.clear();
    anonymous.keyFile.clear();
    auto sender = trail(anonymous);
    Audit::record(Audit::Event::PatientOpened, QStringLiteral("P1"));
    sender->flush();
    QThread::msleep(1000); // refused meanwhile
    sender.reset();
    sender = trail();
    EXPECT_EQ(patients(receivedWhen(1)), QStringList({"P1"}));
}

} // namespace
