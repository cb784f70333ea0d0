#pragma once

#include "records/DatabaseThread.h"

#include <QObject>
#include <QString>

class Database;
class PatientLookup;

// Patient numbers, the "+" (new patient) and "-" (delete patient) buttons. Works on the
// controls and change reactions held by PatientLookup. Window thread only.
class PatientNumbering : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 kNumberBeforeFirst = 10000;

    // Connects btnNew and btnDelCient of the lookup's controls.
    PatientNumbering(Database &db, PatientLookup &lookup, QObject *parent = nullptr);

    // The number for a new patient: one above the greatest all-digit number by value (10001
    // for a table without one), never a number already in use. Throws AppError when the
    // database fails.
    QString NextPatientNumber();
    // The same on any connection (a database thread's).
    static QString nextPatientNumber(const Database &db);
    bool PatientExists(const QString &number);

    void btnNewClick();
    // Deletes the patient in the number field with all records, in one transaction. A failure
    // rolls back silently and leaves fields and sheet as they are; returns false then. With a
    // runner the statements run through it and this returns false at once; the fields clear
    // at its answer.
    bool btnDelCientClick();
    void setRunner(DatabaseRunner runner) { m_runner = std::move(runner); }

    void ClearPatientFields();
    void ClearSheet();

private:
    Database &m_db;
    PatientLookup &m_lookup;
    DatabaseRunner m_runner;
    bool m_deleted = false; // the outcome of the deletion answered last
};
