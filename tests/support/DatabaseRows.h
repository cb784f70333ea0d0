#pragma once

#include "records/Database.h"

#include <QList>
#include <QSqlRecord>
#include <QString>

// What the tests read back from a database: a count, or the rows of a statement.

// The first column of the statement's first row as a number; -1 when there is no row.
int countOf(const Database &db, const QString &statement, std::initializer_list<Database::Binding> bindings = {});

// Every row of the statement, in its order.
QList<QSqlRecord> rowsOf(const Database &db, const QString &statement);
