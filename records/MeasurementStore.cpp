#include "records/MeasurementStore.h"

#include "records/Database.h"
#include "records/PatientText.h"
#include "records/Statements.h"

#include <QSqlQuery>
#include <QVariant>

namespace MeasurementStore {
namespace {

const QString kColumns = QStringLiteral("m.slot, m.x1, m.y1, m.x2, m.y2, m.length_mm, m.mm_per_pixel,"
                                        " m.calibration_ratio, m.calibration_height, m.method, m.observer");

Measurement measurementOf(const QSqlQuery &query, int first)
{
    const auto at = [&](int column) { return query.value(first + column); };
    return Measurement{.slot = at(0).toInt(),
                       .start = QPoint(at(1).toInt(), at(2).toInt()),
                       .end = QPoint(at(3).toInt(), at(4).toInt()),
                       .lengthMm = at(5).toDouble(),
                       .mmPerPixel = at(6).toDouble(),
                       .calibrationRatio = at(7).toDouble(),
                       .calibrationHeight = at(8).toInt(),
                       .method = at(9).toString(),
                       .observer = at(10).toString()};
}

} // namespace

void insert(const Database &db, qint64 contentId, const Measurements &measurements)
{
    int seq = 0;
    for (const Measurement &m : measurements) {
        db.run(QStringLiteral("insert into t_measurements (content_id, seq, slot, x1, y1, x2, y2, length_mm,"
                              " mm_per_pixel, calibration_ratio, calibration_height, method, observer)"
                              " values (:id, :seq, :slot, :x1, :y1, :x2, :y2, :length, :scale, :ratio, :height,"
                              " :method, :observer)"),
               {{":id", contentId},
                {":seq", ++seq},
                {":slot", m.slot},
                {":x1", m.start.x()},
                {":y1", m.start.y()},
                {":x2", m.end.x()},
                {":y2", m.end.y()},
                {":length", m.lengthMm},
                {":scale", m.mmPerPixel},
                {":ratio", m.calibrationRatio},
                {":height", m.calibrationHeight},
                {":method", m.method},
                {":observer", m.observer}});
    }
}

Measurements ofRecord(const Database &db, qint64 contentId)
{
    QSqlQuery query = db.run(
        QStringLiteral("select %1 from t_measurements m where m.content_id = :id order by m.slot, m.seq").arg(kColumns),
        {{":id", contentId}});
    Measurements measurements;
    while (query.next())
        measurements.append(measurementOf(query, 0));
    return measurements;
}

QList<Dated> ofPatient(const Database &db, const QString &number)
{
    QSqlQuery query = db.run(QStringLiteral("select c.printtime, c.ID, %1 from t_measurements m"
                                            " join t_contents c on c.ID = m.content_id"
                                            " where c.client_id_key = :c_id order by c.ID, m.slot, m.seq")
                                 .arg(kColumns),
                             {{":c_id", PatientText::key(number)}});
    QList<Dated> rows;
    while (query.next()) {
        rows.append({.printtime = QDateTime::fromString(query.value(0).toString(), Statements::kTimeFormat),
                     .contentId = query.value(1).toLongLong(),
                     .measurement = measurementOf(query, 2)});
    }
    return rows;
}

QString reportSeries(const Database &db, qint64 contentId)
{
    QSqlQuery query = db.run(QStringLiteral("select series_uid from t_dicom_measurement_series where content_id = :id"),
                             {{":id", contentId}});
    return query.next() ? query.value(0).toString() : QString();
}

void insertReportSeries(const Database &db, qint64 contentId, const QString &seriesUid)
{
    db.run(QStringLiteral("insert into t_dicom_measurement_series (content_id, series_uid) values (:id, :series)"),
           {{":id", contentId}, {":series", seriesUid}});
}

QString selectOfPatient()
{
    return QStringLiteral("select * from t_measurements where content_id in"
                          " (select ID from t_contents where client_id_key = :c_id) order by content_id, seq");
}

QString selectOfRecord()
{
    return QStringLiteral("select * from t_measurements where content_id = :d_id order by seq");
}

void deleteOfPatient(const Database &db, const QString &patientKey)
{
    db.run(QStringLiteral("delete from t_measurements where content_id in"
                          " (select ID from t_contents where client_id_key = :c_id)"),
           {{":c_id", patientKey}});
}

void deleteOfRecord(const Database &db, qint64 contentId)
{
    db.run(QStringLiteral("delete from t_measurements where content_id = :d_id"), {{":d_id", contentId}});
}

} // namespace MeasurementStore
