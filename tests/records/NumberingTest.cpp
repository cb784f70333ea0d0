#include "RecordsFixture.h"
#include "core/AppError.h"
#include "records/DeletionJournal.h"
#include "records/PatientLookup.h"
#include "records/PatientNumbering.h"

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QListView>
#include <QSqlRecord>
#include <QTableView>

// Numbering and deletion against the fields, without a window around them.
class NumberingTest : public RecordsTest {
protected:
    void SetUp() override
    {
        RecordsTest::SetUp();
        sex.setEditable(true);
        controls = {&number, &name, &sex, &age, &tel, &addr, &list, &grid, &table};
        hooks.clearSlotPictures = [this] { ++slotClears; };
        lookup = std::make_unique<PatientLookup>(db, controls, hooks);
        numbering = std::make_unique<PatientNumbering>(db, *lookup);
    }

    QLineEdit number, name, age, tel, addr;
    QComboBox sex;
    QListView list;
    QWidget grid;
    QTableView table;
    PatientControls controls;
    PatientHooks hooks;
    int slotClears = 0;
    std::unique_ptr<PatientLookup> lookup;
    std::unique_ptr<PatientNumbering> numbering;
};

TEST_F(NumberingTest, EmptyTableStartsAt10001)
{
    EXPECT_EQ(numbering->NextPatientNumber(), QStringLiteral("10001"));
}

TEST_F(NumberingTest, FollowsTheGreatestNumber)
{
    addPatient(QStringLiteral("10001"));
    addPatient(QStringLiteral("10457"));
    addPatient(QStringLiteral("10010"));
    EXPECT_EQ(numbering->NextPatientNumber(), QStringLiteral("10458"));
}

TEST_F(NumberingTest, GoesOnPast99999ByValue)
{
    addPatient(QStringLiteral("99999"));
    EXPECT_EQ(numbering->NextPatientNumber(), QStringLiteral("100000"));
    addPatient(QStringLiteral("100000"));
    // In text order "99999" would still be the greatest and give 100000 again.
    EXPECT_EQ(numbering->NextPatientNumber(), QStringLiteral("100001"));
}

TEST_F(NumberingTest, TypedNumbersDoNotConfuseIt)
{
    addPatient(QStringLiteral("A12"));
    EXPECT_EQ(numbering->NextPatientNumber(), QStringLiteral("10001"));
    addPatient(QStringLiteral("10457"));
    addPatient(QStringLiteral("0099"));
    addPatient(QStringLiteral("a99999"));
    EXPECT_EQ(numbering->NextPatientNumber(), QStringLiteral("10458"));
}

TEST_F(NumberingTest, DrawnNumberIsNeverInUse)
{
    for (int i = 0; i < 20; ++i) {
        const QString next = numbering->NextPatientNumber();
        EXPECT_FALSE(numbering->PatientExists(next));
        addPatient(next);
        addPatient(QLatin1Char('0') + next); // typed look-alikes
    }
}

TEST_F(NumberingTest, DeleteRemovesPatientAndAllRecordsAndEmptiesFields)
{
    addPatient({.client_id = QStringLiteral("10001"), .client_name = QStringLiteral("Ann")});
    addPatient({.client_id = QStringLiteral("10002"), .client_name = QStringLiteral("Bob")});
    for (int i = 0; i < 3; ++i)
        addRecord(QStringLiteral("10001"));
    addRecord(QStringLiteral("10002"));
    number.setText(QStringLiteral(" 10001 "));
    EXPECT_EQ(name.text(), QStringLiteral("Ann"));

    EXPECT_TRUE(numbering->btnDelCientClick());
    EXPECT_FALSE(numbering->PatientExists(QStringLiteral("10001")));
    EXPECT_EQ(count(QStringLiteral("select count(*) from t_contents where client_id = '10001'")), 0);
    EXPECT_TRUE(numbering->PatientExists(QStringLiteral("10002")));
    EXPECT_EQ(count(QStringLiteral("select count(*) from t_contents")), 1);
    EXPECT_EQ(number.text(), QString());
    EXPECT_EQ(name.text(), QString());
    EXPECT_GE(slotClears, 1);
}

TEST_F(NumberingTest, FailingDeletionLeavesEverythingAsItWas)
{
    addPatient({.client_id = QStringLiteral("10001"), .client_name = QStringLiteral("Ann")});
    for (int i = 0; i < 3; ++i)
        addRecord(QStringLiteral("10001"));
    // Statement 12 fails after statement 11 already removed the records.
    if (recordsOnServer()) {
        db.execute(QStringLiteral("create function refuse() returns trigger language plpgsql"
                                  " as $$begin raise exception 'refused'; end$$"));
        db.execute(QStringLiteral("create trigger refuse before delete on t_clients"
                                  " for each row execute function refuse()"));
    } else {
        db.execute(QStringLiteral(
            "create trigger refuse before delete on t_clients begin select raise(abort, 'refused'); end"));
    }
    number.setText(QStringLiteral("10001"));
    slotClears = 0;

    EXPECT_FALSE(numbering->btnDelCientClick());
    EXPECT_EQ(count(QStringLiteral("select count(*) from t_contents")), 3);
    EXPECT_TRUE(numbering->PatientExists(QStringLiteral("10001")));
    EXPECT_EQ(number.text(), QStringLiteral("10001"));
    EXPECT_EQ(name.text(), QStringLiteral("Ann"));
    EXPECT_EQ(slotClears, 0);
    EXPECT_FALSE(db.inTransaction());
}

TEST_F(NumberingTest, DeleteWithUnknownOrEmptyNumberOnlyClears)
{
    addPatient(QStringLiteral("10001"));
    name.setText(QStringLiteral("typed"));
    number.setText(QStringLiteral("55555"));
    EXPECT_TRUE(numbering->btnDelCientClick());
    EXPECT_TRUE(numbering->PatientExists(QStringLiteral("10001")));
    EXPECT_EQ(name.text(), QString());
    EXPECT_EQ(number.text(), QString());
}

TEST_F(NumberingTest, NewPatientEmptiesFieldsAndSheetButDrawsNoNumber)
{
    addPatient({.client_id = QStringLiteral("10001"),
                .client_name = QStringLiteral("Ann"),
                .sex = QStringLiteral("F"),
                .age = QStringLiteral("40"),
                .client_phone = QStringLiteral("555"),
                .address = QStringLiteral("Street")});
    number.setText(QStringLiteral("10001"));
    ASSERT_EQ(addr.text(), QStringLiteral("Street"));
    slotClears = 0;
    numbering->btnNewClick();
    for (QLineEdit *field : {&number, &name, &age, &tel, &addr})
        EXPECT_EQ(field->text(), QString());
    EXPECT_EQ(sex.currentText(), QString());
    EXPECT_GE(slotClears, 1);
    EXPECT_EQ(count(QStringLiteral("select count(*) from t_clients")), 1);
}

// Deleting a patient journals the rows and moves the pictures aside; putting the entry back
// gives identical rows and files, and a taken number is refused without a change.
TEST_F(NumberingTest, DeletedPatientComesBackWhole)
{
    addPatient({.client_id = QStringLiteral("10001"),
                .client_name = QStringLiteral("Ann"),
                .client_phone = QStringLiteral("555 0100")});
    addPatient({.client_id = QStringLiteral("10002"), .client_name = QStringLiteral("Bob")});
    const QStringList pictures = {QStringLiteral("10001_a.jpg"), QStringLiteral("10001_b.jpg")};
    for (int i = 0; i < 2; ++i) {
        Statements::ExamRecord record;
        record.client_id = QStringLiteral("10001");
        record.printtime = QDateTime(QDate(2016, 3, 3), QTime(14, 5, i));
        record.pic = {pictures[i], pictures[1]}; // the second picture is shared by both records
        record.rh = 0.25 + i;
        record.picY = {7, -3, 0, 0};
        Statements::insertExamRecord(db, record);
        home.write(QStringLiteral("images/") + pictures[i], QByteArray(1000 + i, char('a' + i)));
    }
    home.write(QStringLiteral("images/other.jpg"), "kept");
    const auto snapshot = [this] {
        QStringList rows;
        for (const char *table : {"t_clients", "t_contents"}) {
            QSqlQuery query = db.run(QStringLiteral("select * from %1 order by 1").arg(QLatin1String(table)), {});
            while (query.next()) {
                QStringList values;
                for (int i = 0; i < query.record().count(); ++i)
                    values << query.value(i).toString() + u':' + QString::number(query.value(i).typeId());
                rows << values.join(u'|');
            }
        }
        return rows;
    };
    const QStringList before = snapshot();

    number.setText(QStringLiteral("10001"));
    ASSERT_TRUE(numbering->btnDelCientClick());
    EXPECT_FALSE(numbering->PatientExists(QStringLiteral("10001")));
    for (const QString &picture : pictures)
        EXPECT_FALSE(QFile::exists(home.file(QStringLiteral("images/") + picture)));
    EXPECT_EQ(home.read(QStringLiteral("images/other.jpg")), QByteArray("kept"));
    const QList<DeletionJournal::Entry> entries = DeletionJournal::list(db);
    ASSERT_EQ(entries.size(), 1);
    EXPECT_EQ(entries[0].number, QStringLiteral("10001"));
    EXPECT_EQ(entries[0].records, 2);

    addPatient({.client_id = QStringLiteral("10001"), .client_name = QStringLiteral("Someone else")});
    EXPECT_THROW(DeletionJournal::restore(db, entries[0].id, home.file(QStringLiteral("images/"))), AppError);
    EXPECT_EQ(DeletionJournal::list(db).size(), 1);
    db.run(QStringLiteral("delete from t_clients where client_name = 'Someone else'"), {});

    DeletionJournal::restore(db, entries[0].id, home.file(QStringLiteral("images/")));
    EXPECT_EQ(snapshot(), before);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(home.read(QStringLiteral("images/") + pictures[i]), QByteArray(1000 + i, char('a' + i)));
    EXPECT_TRUE(DeletionJournal::list(db).isEmpty());
}

// Entries older than the kept days go at start, with their pictures; younger ones stay.
TEST_F(NumberingTest, PurgeRemovesOnlyEntriesPastTheKeptDays)
{
    for (const QString &patient : {QStringLiteral("10001"), QStringLiteral("10002")}) {
        addPatient(patient);
        Statements::ExamRecord record;
        record.client_id = patient;
        record.pic = {patient + QStringLiteral(".jpg")};
        Statements::insertExamRecord(db, record);
        home.write(QStringLiteral("images/") + record.pic[0], "jpeg");
        number.setText(patient);
        ASSERT_TRUE(numbering->btnDelCientClick());
    }
    db.run(QStringLiteral("update t_deleted set deleted_at = '2000-01-01 00:00:00' where client_id = '10001'"), {});

    EXPECT_EQ(DeletionJournal::purge(db, 90, home.file(QStringLiteral("images/"))), 1);
    const QList<DeletionJournal::Entry> kept = DeletionJournal::list(db);
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(kept[0].number, QStringLiteral("10002"));
    EXPECT_FALSE(QFile::exists(home.file(QStringLiteral("images/deleted/1/10001.jpg"))));
    EXPECT_TRUE(QFile::exists(home.file(QStringLiteral("images/deleted/2/10002.jpg"))));
}
