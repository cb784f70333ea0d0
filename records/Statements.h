#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

class Database;

// The system's statement catalogue, numbered as everywhere else in the system (1 to 13): each
// statement's text, the values bound to it and what its caller gets back. Every value is bound
// as a parameter; a patient number is compared on its case-folded key, so "a12" finds "A12",
// and a "%" or "_" typed by the user still acts as a wildcard in the prefix searches.
// Failures throw AppError with the engine's message. One Database per thread: any thread may
// run them on a connection of its own.
namespace Statements {

// The fixed texts, by number (index 0 unused). Statements 2, 4 and 5 get an index range and
// a continuation condition joined to their text (see the .cpp); 13 deletes the record set's
// current row by its ID.
extern const std::array<const char *, 14> kText;

struct Patient {
    QString client_id;
    QString client_name;
    QString sex;
    QString age;
    QString client_phone;
    QString address;
};

struct ExamRecord {
    QString client_id;
    QDateTime printtime;
    QString doctor;
    QString proposer;
    QString title;
    std::array<QString, 4> pic;
    std::array<QString, 4> symptom; // symptom1 .. symptom4
    QString symptom5;
    bool has_treat = false;
    std::array<QString, 4> treat;
    double rh = 0.0;
    std::array<qint32, 4> picY{};
};

// The patient columns in the order of the patient grid.
inline const QStringList kPatientColumns = {QStringLiteral("client_id"),    QStringLiteral("client_name"),
                                            QStringLiteral("sex"),          QStringLiteral("age"),
                                            QStringLiteral("client_phone"), QStringLiteral("address")};

// 1: the patient with this number, only when exactly one row holds it.
std::optional<Patient> loadPatient(const Database &db, const QString &number);

// 2: one page of the numbers that match `typed` + "%", in key order, continuing after the row
// `afterRow` with key `afterKey` (afterRow < 0: from the start).
struct NumberPage {
    QStringList numbers;
    QString lastKey;
    qint64 lastRow = -1;
    bool complete = false; // no more numbers after this page
};
NumberPage numbersStartingWith(const Database &db, const QString &typed, int limit, const QString &afterKey = QString(),
                               qint64 afterRow = -1);

// 3: how many rows hold this number, counted up to 2 (only "exactly one" matters).
int exactNumberCount(const Database &db, const QString &number);

// 4 and 5: up to 10 patients whose name (4) or telephone (5) starts with `typed` + "%".
enum class SearchField { Name = 4, Telephone = 5 };
QList<QStringList> searchPatients(const Database &db, SearchField field, const QString &typed);

// 6: the greatest all-digit number by value, nothing when there is none.
std::optional<qint64> greatestNumber(const Database &db);

// 7: whether any row holds this number.
bool patientExists(const Database &db, const QString &number);

// 8 and 9: the two inserts of the save; the caller runs them in one transaction.
void insertPatient(const Database &db, const Patient &patient);
qint64 insertExamRecord(const Database &db, const ExamRecord &record);

// 10 is run by RecordSet::open (records/RecordSet.h); its text is kText[10].

// One examination record by its ID, read as statement 10 reads a patient's.
std::optional<ExamRecord> loadExamRecord(const Database &db, qint64 id);
// The IDs of the patient's examination records (of every patient when number is empty), in
// ascending order.
QList<qint64> examRecordIds(const Database &db, const QString &number);

// Every patient and every examination record, in the order they were stored (the copy to a
// server), and whether a database already holds one equal in every column (empty text and a
// missing one count as the same).
QList<Patient> allPatients(const Database &db);
QList<ExamRecord> allExamRecords(const Database &db);
bool holdsPatient(const Database &db, const Patient &patient);
bool holdsExamRecord(const Database &db, const ExamRecord &record);

// Run first in a transaction that may store a new patient: checking a number and storing it
// is then one step among all workstations on the server.
void lockPatientNumbers(const Database &db);

// The slot pictures on a server, by file name, so every room reads them (SQLite keeps them in
// images/ only). storePicture runs inside the examination's transaction.
bool picturesInDatabase(const Database &db);
void storePicture(const Database &db, const QString &name, const QByteArray &jpeg);
std::optional<QByteArray> loadPicture(const Database &db, const QString &name);

// 11 and 12: a patient's records and the patient; the caller runs them in one transaction. 11
// and 13 also take the records' instances that still wait for the PACS out of the DICOM outbox,
// and the records' measurements with them.
void deleteExamRecords(const Database &db, const QString &number);
void deletePatient(const Database &db, const QString &number);

// 13: one examination record by its ID.
void deleteExamRecord(const Database &db, qint64 id);

// The text form in which printtime is stored and read back.
inline const QString kTimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

} // namespace Statements
