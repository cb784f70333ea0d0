#include "RecordsFixture.h"

#include <algorithm>

namespace {
QStringList allNumbers(const Database &db, const QString &typed)
{
    return Statements::numbersStartingWith(db, typed, 100000).numbers;
}
} // namespace

using NumberStatements = RecordsTest;

TEST_F(NumberStatements, PrefixOfOtherNumbersListsThemButIsNoExactMatch)
{
    addPatient(QStringLiteral("10001"));
    addPatient(QStringLiteral("10002"));
    addPatient(QStringLiteral("2000"));
    EXPECT_EQ(allNumbers(db, QStringLiteral("1000")), (QStringList{"10001", "10002"}));
    EXPECT_EQ(Statements::exactNumberCount(db, QStringLiteral("1000")), 0);
    EXPECT_EQ(Statements::exactNumberCount(db, QStringLiteral("10001")), 1);
}

TEST_F(NumberStatements, QuoteInNumberNeitherBreaksNorWidens)
{
    addPatient(QStringLiteral("10001"));
    addPatient({.client_id = QStringLiteral("O'1"), .client_name = QStringLiteral("quoted")});
    for (const QString &hostile : {QStringLiteral("' or '1'='1"), QStringLiteral("1' --"), QStringLiteral("'")}) {
        EXPECT_FALSE(Statements::patientExists(db, hostile)) << qPrintable(hostile);
        EXPECT_FALSE(Statements::loadPatient(db, hostile)) << qPrintable(hostile);
        EXPECT_EQ(Statements::exactNumberCount(db, hostile), 0);
        EXPECT_TRUE(allNumbers(db, hostile).isEmpty());
    }
    const auto quoted = Statements::loadPatient(db, QStringLiteral("o'1"));
    ASSERT_TRUE(quoted);
    EXPECT_EQ(quoted->client_name, QStringLiteral("quoted"));
}

TEST_F(NumberStatements, PercentAndUnderscoreTypedActAsWildcards)
{
    addPatient(QStringLiteral("10001"));
    addPatient(QStringLiteral("20001"));
    addPatient(QStringLiteral("5%5"));
    EXPECT_EQ(allNumbers(db, QStringLiteral("%0001")), (QStringList{"10001", "20001"}));
    EXPECT_EQ(allNumbers(db, QStringLiteral("_0001")), (QStringList{"10001", "20001"}));
    EXPECT_EQ(allNumbers(db, QStringLiteral("5%")), (QStringList{"5%5"}));
    // Equality takes them literally.
    EXPECT_FALSE(Statements::patientExists(db, QStringLiteral("%")));
    EXPECT_TRUE(Statements::patientExists(db, QStringLiteral("5%5")));
}

TEST_F(NumberStatements, NumbersCompareWithoutLetterCase)
{
    addPatient({.client_id = QStringLiteral("A12"), .client_name = QStringLiteral("Ann")});
    addPatient({.client_id = QStringLiteral("Ж5"), .client_name = QStringLiteral("Zhenya")});
    EXPECT_TRUE(Statements::patientExists(db, QStringLiteral("a12")));
    EXPECT_EQ(Statements::loadPatient(db, QStringLiteral("ж5"))->client_name, QStringLiteral("Zhenya"));
    EXPECT_EQ(allNumbers(db, QStringLiteral("ж")), (QStringList{"Ж5"}));
}

TEST_F(NumberStatements, DuplicatedNumberIsNotLoaded)
{
    addPatient({.client_id = QStringLiteral("10001"), .client_name = QStringLiteral("first")});
    addPatient({.client_id = QStringLiteral("10001"), .client_name = QStringLiteral("second")});
    EXPECT_EQ(Statements::exactNumberCount(db, QStringLiteral("10001")), 2);
    EXPECT_FALSE(Statements::loadPatient(db, QStringLiteral("10001")));
}

TEST_F(NumberStatements, PagesContinueWithoutGapsOrRepeats)
{
    QStringList expected;
    for (int i = 0; i < 30; ++i) {
        // Case variants share one key: the pages must still hand out each row once.
        const QString number = QStringLiteral("x%1").arg(i / 2) + (i % 2 ? u'A' : u'a');
        addPatient(number);
        expected.append(number);
    }
    QStringList seen;
    Statements::NumberPage page;
    do {
        page = Statements::numbersStartingWith(db, QStringLiteral("X"), 7, page.lastKey, page.lastRow);
        seen.append(page.numbers);
    } while (!page.complete);
    std::sort(seen.begin(), seen.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(seen, expected);
}

using SearchStatements = RecordsTest;

TEST_F(SearchStatements, EmptyFieldsAreStoredAsEmptyText)
{
    addPatient(QStringLiteral("10001")); // name and telephone left null
    EXPECT_EQ(count(QStringLiteral("select count(*) from t_clients where client_name = '' and client_phone_key = ''")),
              1);
    EXPECT_EQ(Statements::searchPatients(db, Statements::SearchField::Name, QStringLiteral("%")).size(), 1);
}

TEST_F(SearchStatements, NameSearchIgnoresCaseOfEveryLetter)
{
    addPatient({.client_id = QStringLiteral("1"), .client_name = QStringLiteral("Ärzteblatt")});
    addPatient({.client_id = QStringLiteral("2"), .client_name = QStringLiteral("Дмитрий")});
    addPatient({.client_id = QStringLiteral("3"), .client_name = QStringLiteral("ARNE")});
    EXPECT_EQ(Statements::searchPatients(db, Statements::SearchField::Name, QStringLiteral("ärz")).size(), 1);
    EXPECT_EQ(Statements::searchPatients(db, Statements::SearchField::Name, QStringLiteral("ДМИ")).size(), 1);
    EXPECT_EQ(Statements::searchPatients(db, Statements::SearchField::Name, QStringLiteral("дмитрий")).size(), 1);
    EXPECT_EQ(Statements::searchPatients(db, Statements::SearchField::Name, QStringLiteral("ar")).size(), 1);
}

TEST_F(SearchStatements, HostileNamesAndPhonesAreValues)
{
    addPatient({.client_id = QStringLiteral("1"),
                .client_name = QStringLiteral("O'Brien"),
                .client_phone = QStringLiteral("555'1")});
    addPatient({.client_id = QStringLiteral("2"),
                .client_name = QStringLiteral("100% Smith"),
                .client_phone = QStringLiteral("5_5")});
    addPatient({.client_id = QStringLiteral("3"),
                .client_name = QStringLiteral("Obama"),
                .client_phone = QStringLiteral("565")});
    const auto names = [&](const QString &typed) {
        QStringList found;
        for (const QStringList &row : Statements::searchPatients(db, Statements::SearchField::Name, typed))
            found.append(row.at(1));
        std::sort(found.begin(), found.end());
        return found;
    };
    const auto phones = [&](const QString &typed) {
        return Statements::searchPatients(db, Statements::SearchField::Telephone, typed).size();
    };
    EXPECT_EQ(names(QStringLiteral("o'")), (QStringList{"O'Brien"}));
    EXPECT_EQ(names(QStringLiteral("O_")), (QStringList{"O'Brien", "Obama"}));
    EXPECT_EQ(names(QStringLiteral("%smith")), (QStringList{"100% Smith"}));
    EXPECT_EQ(names(QStringLiteral("' or 1=1 --")), QStringList());
    EXPECT_EQ(phones(QStringLiteral("555'")), 1);
    EXPECT_EQ(phones(QStringLiteral("5_5")), 3);
    EXPECT_EQ(phones(QStringLiteral("%6")), 1);
}

TEST_F(SearchStatements, AtMostTenRowsInGridColumnOrder)
{
    for (int i = 0; i < 12; ++i)
        addPatient({.client_id = QString::number(10001 + i),
                    .client_name = QStringLiteral("Lee %1").arg(i),
                    .sex = QStringLiteral("m"),
                    .age = QStringLiteral("40"),
                    .client_phone = QStringLiteral("tel"),
                    .address = QStringLiteral("addr")});
    const QList<QStringList> rows =
        Statements::searchPatients(db, Statements::SearchField::Name, QStringLiteral("lee"));
    ASSERT_EQ(rows.size(), 10);
    EXPECT_EQ(rows.first().mid(2), (QStringList{"m", "40", "tel", "addr"}));
}

using ExamStatements = RecordsTest;

TEST_F(ExamStatements, RecordRoundTripsEveryColumn)
{
    Statements::ExamRecord record;
    record.client_id = QStringLiteral("10001");
    record.printtime = QDateTime(QDate(2016, 3, 3), QTime(14, 5, 9));
    record.doctor = QStringLiteral("Dr. O'Hara");
    record.symptom5 = QString(100000, u'ü');
    record.symptom[2] = QStringLiteral("  kept as shown ");
    record.has_treat = true;
    record.treat[3] = QStringLiteral("rest");
    record.rh = 123.25;
    record.picY = {480, 0, 1080, -1};
    record.pic[1] = QStringLiteral("20160303140509123.jpg");
    Statements::insertExamRecord(db, record);

    QSqlQuery raw = db.run(QStringLiteral("select printtime from t_contents"), {});
    ASSERT_TRUE(raw.next());
    EXPECT_EQ(raw.value(0).toString(), QStringLiteral("2016-03-03 14:05:09"));
    raw.finish();

    RecordSet set;
    set.open(db, QStringLiteral("10001"));
    ASSERT_EQ(set.RecordCount(), 1);
    EXPECT_EQ(set.asDateTime(QStringLiteral("printtime")), record.printtime);
    EXPECT_EQ(set.asString(QStringLiteral("doctor")), record.doctor);
    EXPECT_EQ(set.asString(QStringLiteral("symptom5")), record.symptom5);
    EXPECT_EQ(set.asString(QStringLiteral("symptom3")), record.symptom[2]);
    EXPECT_TRUE(set.asBoolean(QStringLiteral("has_treat")));
    EXPECT_EQ(set.asString(QStringLiteral("treat4")), QStringLiteral("rest"));
    EXPECT_DOUBLE_EQ(set.asFloat(QStringLiteral("rh")), 123.25);
    EXPECT_EQ(set.asInteger(QStringLiteral("picY3")), 1080);
    EXPECT_EQ(set.asInteger(QStringLiteral("picY4")), -1);
    EXPECT_EQ(set.asString(QStringLiteral("pic2")), record.pic[1]);
    EXPECT_EQ(set.asString(QStringLiteral("pic1")), QString());
}
