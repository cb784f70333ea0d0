#include "SheetFixture.h"
#include "imaging/JpegFile.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QThread>

#include <cstdio>

// A process killed at any moment of saving leaves whole examinations: every stored record has
// its patient, every patient its record, every picture a record names is a whole JPEG file,
// and system.ini is whole with every phrase the stored records used. The killed process is
// this test program, started with the child case selected, saving in the parent's folder.

namespace {
const char *const kHomeVariable = "EXAMSTATION_SHEET_HOME";
const char *const kFirstVariable = "EXAMSTATION_SHEET_FIRST";
} // namespace

class SaveKillChild : public SheetFixture { };

TEST_F(SaveKillChild, SavesUntilKilled)
{
    if (qEnvironmentVariableIsEmpty(kHomeVariable))
        GTEST_SKIP() << "runs only as the child of SaveKill";
    const int first = qEnvironmentVariableIntValue(kFirstVariable);
    for (int n = first;; ++n) {
        enterPatient(QString::number(n), QStringLiteral("P%1").arg(n));
        fillSheet();
        diagnosis(4)->setEditText(QStringLiteral("finding %1").arg(n));
        for (int slot = 1; slot <= 4; ++slot)
            snapshotInto(slot, QStringLiteral("k%1-%2.jpg").arg(n).arg(slot));
        ASSERT_TRUE(examSheet.btnGenReportClick());
        std::printf("saved %d\n", n);
        std::fflush(stdout);
    }
}

class SaveKill : public SheetFixture { };

TEST_F(SaveKill, KilledAnywhereLeavesWholeExaminationsAndAWholeSettingsFile)
{
    for (int round = 0; round < 4; ++round) {
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QLatin1String(kHomeVariable), ProgramFolder::path());
        environment.insert(QLatin1String(kFirstVariable), QString::number(10001 + round * 1000));
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=SaveKillChild.*")});
        ASSERT_TRUE(child.waitForStarted());
        // Killed at a random moment once it is saving.
        while (!child.readAllStandardOutput().contains("saved"))
            ASSERT_TRUE(child.waitForReadyRead(120000)) << child.readAllStandardError().toStdString();
        QThread::msleep(QRandomGenerator::global()->bounded(5, 400));
        child.kill();
        ASSERT_TRUE(child.waitForFinished(60000));
    }

    Database check;
    check.open(db.file());
    QSqlQuery integrity = check.run("pragma integrity_check", {});
    ASSERT_TRUE(integrity.next());
    EXPECT_EQ(integrity.value(0).toString(), "ok");
    integrity.finish();
    const auto number = [&](const char *statement) {
        QSqlQuery query = check.run(QString::fromLatin1(statement), {});
        return query.next() ? query.value(0).toInt() : -1;
    };
    EXPECT_GE(number("select count(*) from t_contents"), 4);
    EXPECT_EQ(number("select count(*) from t_contents c where not exists"
                     " (select 1 from t_clients p where p.client_id = c.client_id)"),
              0);
    EXPECT_EQ(number("select count(*) from t_clients p where not exists"
                     " (select 1 from t_contents c where c.client_id = p.client_id)"),
              0);

    IniFile fresh;
    fresh.setPath(ProgramFolder::file("system.ini"));
    QSet<QString> remembered;
    const QRegularExpression phraseLine(QStringLiteral("^\\d+=(gastritis|ulcer|finding \\d+)$"));
    for (const QString &line : fresh.readSection("Symptom")) {
        EXPECT_TRUE(phraseLine.match(line).hasMatch()) << line.toStdString();
        remembered.insert(line.mid(line.indexOf(u'=') + 1));
    }
    EXPECT_EQ(fresh.readSection("Treatment"), QStringList({"1=rest"}));

    QSqlQuery rows = check.run("select symptom4, pic1, pic2, pic3, pic4 from t_contents", {});
    while (rows.next()) {
        EXPECT_TRUE(remembered.contains(rows.value(0).toString())) << rows.value(0).toString().toStdString();
        for (int column = 1; column <= 4; ++column) {
            const QString file = ProgramFolder::file("images/" + rows.value(column).toString());
            EXPECT_NO_THROW(EXPECT_EQ(JpegFile::read(file).size(), QSize(640, 480))) << file.toStdString();
        }
    }
}
