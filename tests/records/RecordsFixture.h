#pragma once

#include "PgServer.h"
#include "TestHome.h"
#include "records/Database.h"
#include "records/RecordSet.h"
#include "records/Statements.h"

#include <gtest/gtest.h>

// Whether this run's program folders keep their records on the PostgreSQL test server.
inline bool recordsOnServer()
{
    return PgServer::forTestHomes() != nullptr;
}

// A fresh program folder with its database opened, and quick ways to fill it.
class RecordsTest : public ::testing::Test {
protected:
    void SetUp() override { db.open(); }

    void addPatient(const QString &number) { Statements::insertPatient(db, {.client_id = number}); }
    void addPatient(const Statements::Patient &patient) { Statements::insertPatient(db, patient); }

    qint64 addRecord(const QString &number, const QString &title = QStringLiteral("t"))
    {
        return Statements::insertExamRecord(
            db, {.client_id = number, .printtime = QDateTime(QDate(2016, 3, 3), QTime(14, 5, 9)), .title = title});
    }

    int count(const QString &statement) const
    {
        QSqlQuery query = db.run(statement, {});
        return query.next() ? query.value(0).toInt() : -1;
    }

    TestHome home;
    Database db;
};
