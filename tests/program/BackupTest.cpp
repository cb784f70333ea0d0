#include "ProgramRun.h"
#include "TestHome.h"
#include "records/Database.h"
#include "records/Statements.h"

#include <QDir>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QThread>

#include <atomic>
#include <thread>

// A backup taken while another process saves examinations in a loop (each picture written
// before its record is committed, as the sheet saves) holds one committed state, whole.
TEST(BackupTest, CopyTakenWhileExaminationsAreSavedIsWhole)
{
    TestHome home;
    home.installReportTemplate();
    home.write(QStringLiteral("system.ini"), "[report]\r\ntitle=t\r\n");
    {
        Database db;
        db.open();
        Statements::insertPatient(db, {QStringLiteral("10001"), QStringLiteral("Ann")});
    }
    std::atomic<bool> stop{false};
    std::atomic<int> saved{0};
    std::thread saving([&] {
        Database db;
        db.open();
        for (int i = 0; !stop; ++i) {
            const QString picture = QStringLiteral("10001_%1.jpg").arg(i);
            home.write(QStringLiteral("images/") + picture, QByteArray(20000 + i, char(i)));
            ScopedTransaction transaction(db);
            Statements::ExamRecord record;
            record.client_id = QStringLiteral("10001");
            record.printtime = QDateTime::currentDateTime();
            record.pic = {picture};
            Statements::insertExamRecord(db, record);
            transaction.commit();
            ++saved;
        }
    });
    for (int wait = 0; saved < 20 && wait < 600; ++wait)
        QThread::msleep(50);
    const QTemporaryDir target;
    const ProgramRun backup =
        runProgram(QStringLiteral(EXAMSTATION_BINARY),
                   {QStringLiteral("--home"), home.path(), QStringLiteral("--backup"), target.path()});
    const int savedAfter = saved + 1; // the one being saved may be in the copy too
    stop = true;
    saving.join();
    ASSERT_EQ(backup.status, 0) << backup.err.toStdString();

    const QStringList folders = QDir(target.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    ASSERT_EQ(folders.size(), 1);
    const QDir copy(QDir(target.path()).filePath(folders[0]));
    EXPECT_TRUE(backup.out.contains(copy.path())) << backup.out.toStdString();
    EXPECT_EQ(QFile(copy.filePath(QStringLiteral("system.ini"))).size(), QFile(home.file("system.ini")).size());
    EXPECT_TRUE(copy.exists(QStringLiteral("data/1.fr3")));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("copy"));
        db.setDatabaseName(copy.filePath(QStringLiteral("data/data.db")));
        ASSERT_TRUE(db.open());
        QSqlQuery check(QStringLiteral("pragma integrity_check"), db);
        ASSERT_TRUE(check.next());
        EXPECT_EQ(check.value(0).toString(), QStringLiteral("ok"));
        // One committed state: records 1..n with nothing missing, each with its picture.
        QSqlQuery records(QStringLiteral("select ID, pic1 from t_contents order by ID"), db);
        int count = 0;
        while (records.next()) {
            ++count;
            EXPECT_EQ(records.value(0).toInt(), count);
            const QString picture = QStringLiteral("images/") + records.value(1).toString();
            QFile copied(copy.filePath(picture));
            ASSERT_TRUE(copied.open(QIODevice::ReadOnly)) << picture.toStdString();
            EXPECT_EQ(copied.readAll(), home.read(picture));
        }
        EXPECT_GE(count, 20);
        EXPECT_LE(count, savedAfter);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("copy"));
}

// A save that a crash cut short leaves its temporary beside a picture: never whole, it stays out
// of the copy. Run by hand, the backup shows how far it is on the terminal; from cron its
// standard error stays empty, so a mail comes only when it fails.
TEST(BackupTest, LeavesOutTemporariesAndShowsProgressOnATerminalOnly)
{
    TestHome home;
    Database().open();
    for (const char *name : {"a.jpg", "b.jpg", "c.jpg", "a.jpg.tmp0a1b2c3d"})
        home.write(QStringLiteral("images/") + QLatin1String(name), "picture");
    const QTemporaryDir target;
    const QStringList arguments{QStringLiteral("--home"), home.path(), QStringLiteral("--backup"), target.path()};
    const ProgramRun fromCron = runProgram(QStringLiteral(EXAMSTATION_BINARY), arguments);
    ASSERT_EQ(fromCron.status, 0) << fromCron.err.toStdString();
    EXPECT_EQ(fromCron.err, QString());
    const QStringList folders = QDir(target.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    ASSERT_EQ(folders.size(), 1);
    EXPECT_EQ(QDir(target.path() + u'/' + folders[0] + QStringLiteral("/images")).entryList(QDir::Files),
              (QStringList{QStringLiteral("a.jpg"), QStringLiteral("b.jpg"), QStringLiteral("c.jpg")}));

    const ProgramRun byHand = runProgramOnTerminal(QStringLiteral(EXAMSTATION_BINARY), arguments);
    EXPECT_EQ(byHand.status, 0) << byHand.err.toStdString();
    EXPECT_TRUE(byHand.err.contains(QStringLiteral("files 3/3"))) << byHand.err.toStdString();
}
