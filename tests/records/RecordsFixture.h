#pragma once

#include "TestHome.h"
#include "records/Database.h"
#include "records/RecordSet.h"
#include "records/Statements.h"

#include <gtest/gtest.h>

// A fresh program folder with its database opened, and quick ways to fill it.
class RecordsTest : public ::testing::Test {
protected:
    void SetUp() override { db.open(); }

    void addPatient(const QString &number, const QString &name = QString(), const QString &phone = QString(),
                    const QString &sex = QString(), const QString &age = QString(), const QString &address = QString())
    {
        Statements::insertPatient(db, {number, name, sex, age, phone, address});
    }

    qint64 addRecord(const QString &number, const QString &title = QStringLiteral("t"))
    {
        Statements::ExamRecord record;
        record.client_id = number;
        record.title = title;
        record.printtime = QDateTime(QDate(2016, 3, 3), QTime(14, 5, 9));
        return Statements::insertExamRecord(db, record);
    }

    int count(const QString &statement) const
    {
        QSqlQuery query = db.run(statement, {});
        return query.next() ? query.value(0).toInt() : -1;
    }

    TestHome home;
    Database db;
};
