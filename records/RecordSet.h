#pragma once

#include <QDateTime>
#include <QList>
#include <QSqlRecord>
#include <QString>
#include <QVariant>

class Database;

// The report's record set (`ADOQuery1`): one patient's examination records in ascending ID
// order (statement 10), with a current row, at-start/at-end flags and deletion of the current
// row (statement 13). The rows are read whole when it opens; a patient has few records.
// One Database per thread: the window's report and the outbox's report page each open their
// own on their thread's connection.
class RecordSet {
public:
    // Closes, then runs statement 10 for the number; stands on the first row (or BOF and EOF
    // both set when the patient has no records). Throws AppError when the statement fails,
    // leaving the record set closed.
    void open(const Database &db, const QString &number);
    void close();
    bool isOpen() const { return m_open; }

    int RecordCount() const { return int(m_rows.size()); }
    bool Bof() const { return m_position < 0 || m_rows.isEmpty(); }
    bool Eof() const { return m_position >= m_rows.size() || m_rows.isEmpty(); }
    bool isEmpty() const { return m_rows.isEmpty(); }

    void First();
    void Last();
    // Moving on from the last row sets EOF, back from the first row sets BOF.
    void Next();
    void Prior();
    int position() const { return m_position; }

    // Column reads of the current row; throw AppError when there is none (BOF or EOF).
    QVariant value(const QString &column) const;
    QString asString(const QString &column) const;
    qint64 asInteger(const QString &column) const;
    double asFloat(const QString &column) const;
    bool asBoolean(const QString &column) const;
    QDateTime asDateTime(const QString &column) const;

    // Statement 13: deletes the current row from t_contents by its ID, after copying it to the
    // deletion journal (run it inside a transaction). The set then stands on the following row,
    // or on the new last row when the last one was deleted. Returns the journal ID.
    qint64 Delete(const Database &db);

private:
    const QSqlRecord &current() const;

    QList<QSqlRecord> m_rows;
    int m_position = -1;
    bool m_open = false;
};
