#pragma once

#include "core/Measurement.h"

#include <QDateTime>
#include <QList>
#include <QString>

class Database;

// The measured lengths of an examination record (table t_measurements), stored in the save's
// transaction and deleted with their record. Failures throw AppError with the engine's message.
// One Database per thread.
namespace MeasurementStore {

// The caller holds the transaction (the save's).
void insert(const Database &db, qint64 contentId, const Measurements &measurements);
// In slot order, then in the order they were measured.
Measurements ofRecord(const Database &db, qint64 contentId);

// A patient's measurements with the date of their record, oldest record first.
struct Dated {
    QDateTime printtime;
    qint64 contentId = 0;
    Measurement measurement;
};
QList<Dated> ofPatient(const Database &db, const QString &number);

// What statements 11 and 13 delete with the records (patient key, or one record).
void deleteOfPatient(const Database &db, const QString &patientKey);
void deleteOfRecord(const Database &db, qint64 contentId);

// The series of the record's measurement report for the PACS; empty before one was made.
QString reportSeries(const Database &db, qint64 contentId);
void insertReportSeries(const Database &db, qint64 contentId, const QString &seriesUid);

// The rows' own select, for the deletion journal's copy of them.
QString selectOfPatient();
QString selectOfRecord();

} // namespace MeasurementStore
