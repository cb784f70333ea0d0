#include "core/MessageLog.h"

#include "TestHome.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

// Warnings (not debug output) go to examstation.log with a time stamp and their category; the
// log is rotated past its limit and only a few old files are kept.
TEST(MessageLogTest, WarningsAreLoggedWithTimeAndTheFilesStayBounded)
{
    TestHome home;
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {}); // quiet stderr
    MessageLog::install(home.path());
    qDebug("not for the log");
    qWarning("camera refused exposure");
    const QString first = QString::fromUtf8(home.read(QStringLiteral("examstation.log")));
    EXPECT_TRUE(QRegularExpression(QStringLiteral(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} warning \S+: )"
                                                  R"(camera refused exposure\n$)"))
                    .match(first)
                    .hasMatch())
        << first.toStdString();

    const QByteArray line(100000, 'x');
    for (int i = 0; i < 60; ++i)
        qCritical("%s", line.constData());
    MessageLog::uninstall();
    qInstallMessageHandler(nullptr);
    for (const QString &suffix : {QString(), QStringLiteral(".1"), QStringLiteral(".2"), QStringLiteral(".3")}) {
        const QFileInfo file(home.file(QStringLiteral("examstation.log") + suffix));
        EXPECT_TRUE(file.exists()) << suffix.toStdString();
        EXPECT_LE(file.size(), MessageLog::kLimit);
    }
    EXPECT_FALSE(QFileInfo::exists(home.file(QStringLiteral("examstation.log.4"))));
}
