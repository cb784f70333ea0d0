#include "DatabaseRows.h"

#include <QSqlQuery>

int countOf(const Database &db, const QString &statement, std::initializer_list<Database::Binding> bindings)
{
    QSqlQuery query = db.run(statement, bindings);
    return query.next() ? query.value(0).toInt() : -1;
}

QList<QSqlRecord> rowsOf(const Database &db, const QString &statement)
{
    QSqlQuery query = db.run(statement, {});
    QList<QSqlRecord> rows;
    while (query.next())
        rows.append(query.record());
    return rows;
}
