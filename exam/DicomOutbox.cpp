#include "exam/DicomOutbox.h"

#include "core/AppError.h"
#include "dicom/Logging.h"
#include "dicom/StoreClient.h"
#include "dicom/StudyInstance.h"
#include "records/Database.h"
#include "records/PatientText.h"
#include "records/PictureStore.h"
#include "records/Statements.h"

#include <QFile>
#include <QSqlQuery>

#include <dcmtk/dcmdata/dcfilefo.h>

#include <algorithm>
#include <chrono>
#include <limits>
#include <memory>
#include <optional>

namespace {

const QString kWaiting = QStringLiteral("waiting");
const QString kImage = QStringLiteral("image");
const QString kReport = QStringLiteral("report");
constexpr qint64 kFirstRetryMs = 5000;
constexpr qint64 kLongestRetryMs = 10 * 60 * 1000;

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

struct Study {
    QString studyUid;
    QString imageSeriesUid;
    QString reportSeriesUid;
    QString accessionNumber;
};

std::optional<Study> studyOf(const Database &db, qint64 contentId)
{
    QSqlQuery query = db.run(QStringLiteral("select study_uid, image_series_uid, report_series_uid, accession_number"
                                            " from t_dicom_studies where content_id = :id"),
                             {{":id", contentId}});
    if (!query.next())
        return std::nullopt;
    return Study{query.value(0).toString(), query.value(1).toString(), query.value(2).toString(),
                 query.value(3).toString()};
}

struct Waiting {
    QString sopUid;
    qint64 contentId = 0;
    QString kind;
    int slot = 0;
    int attempts = 0;
};

struct Record {
    Statements::ExamRecord exam;
    Statements::Patient patient;
};

std::optional<Record> recordOf(const Database &db, qint64 contentId)
{
    QSqlQuery query =
        db.run(QStringLiteral("select client_id, printtime, doctor, proposer, title, pic1, pic2, pic3, pic4"
                              " from t_contents where ID = :id"),
               {{":id", contentId}});
    if (!query.next())
        return std::nullopt;
    Record record;
    record.exam.client_id = query.value(0).toString();
    record.exam.printtime = QDateTime::fromString(query.value(1).toString(), Statements::kTimeFormat);
    record.exam.doctor = query.value(2).toString();
    record.exam.proposer = query.value(3).toString();
    record.exam.title = query.value(4).toString();
    for (int i = 0; i < 4; ++i)
        record.exam.pic[i] = query.value(5 + i).toString().trimmed();
    query.finish();
    record.patient = Statements::loadPatient(db, record.exam.client_id).value_or(Statements::Patient{});
    return record;
}

std::unique_ptr<DcmFileFormat> buildInstance(Database &db, const Waiting &entry, const Record &record,
                                             const Study &study, const ReportSource &report)
{
    const StudyValues values{.patientId = record.exam.client_id,
                             .patientName = record.patient.client_name,
                             .sex = record.patient.sex,
                             .age = record.patient.age,
                             .studyTime = record.exam.printtime,
                             .referringPhysician = record.exam.proposer,
                             .performingPhysician = record.exam.doctor,
                             .studyDescription = record.exam.title,
                             .accessionNumber = study.accessionNumber,
                             .studyUid = study.studyUid};
    if (entry.kind == kReport)
        return StudyInstance::pdfDocument(values, {study.reportSeriesUid, entry.sopUid, 2, 1},
                                          ReportPdf::render(db, entry.contentId, report));
    const QString name = entry.slot >= 1 && entry.slot <= 4 ? record.exam.pic[entry.slot - 1] : QString();
    // With the records on a server the picture may have been saved in another room.
    if (!name.isEmpty() && !name.contains(u'/'))
        PictureStore::fetchWhenMissing(db, report.imagesFolder, name);
    QFile picture(report.imagesFolder + name);
    if (name.isEmpty() || name.contains(u'/') || !picture.open(QIODevice::ReadOnly))
        throw AppError(QStringLiteral("The picture %1 of record %2 cannot be read.").arg(name).arg(entry.contentId));
    return StudyInstance::jpegImage(values, {study.imageSeriesUid, entry.sopUid, 1, entry.slot}, picture.readAll());
}

void markSent(const Database &db, const QString &sopUid)
{
    db.run(QStringLiteral("update t_dicom_outbox set state = 'sent', last_error = null, sent_at = :at"
                          " where sop_uid = :uid"),
           {{":at", QDateTime::currentDateTime().toString(Statements::kTimeFormat)}, {":uid", sopUid}});
}

void markFailed(const Database &db, const Waiting &entry, const QString &error)
{
    const qint64 wait = std::min(kLongestRetryMs, kFirstRetryMs << std::min(entry.attempts, 20));
    db.run(QStringLiteral("update t_dicom_outbox set attempts = attempts + 1, next_try = :next, last_error = :error"
                          " where sop_uid = :uid"),
           {{":next", nowMs() + wait}, {":error", error}, {":uid", entry.sopUid}});
}

QString describe(const Waiting &entry, const Record *record)
{
    const QString patient = record ? record->exam.client_id : QString();
    return entry.kind == kReport
        ? QStringLiteral("patient %1, record %2, report").arg(patient).arg(entry.contentId)
        : QStringLiteral("patient %1, record %2, picture %3").arg(patient).arg(entry.contentId).arg(entry.slot);
}

} // namespace

namespace DicomOutbox {

int queueRecord(const Database &db, qint64 contentId, const QString &accessionNumber)
{
    const std::optional<Record> record = recordOf(db, contentId);
    if (!record)
        return 0;
    if (!studyOf(db, contentId)) {
        db.run(QStringLiteral("insert into t_dicom_studies (content_id, study_uid, image_series_uid, report_series_uid,"
                              " accession_number) values (:id, :study, :images, :report, :accession)"),
               {{":id", contentId},
                {":study", StudyInstance::newUid()},
                {":images", StudyInstance::newUid()},
                {":report", StudyInstance::newUid()},
                {":accession", accessionNumber}});
    }
    QList<std::pair<QString, int>> wanted;
    for (int slot = 1; slot <= 4; ++slot) {
        if (!record->exam.pic[slot - 1].isEmpty())
            wanted.append({kImage, slot});
    }
    wanted.append({kReport, 0});
    int queued = 0;
    for (const auto &[kind, slot] : wanted) {
        QSqlQuery known = db.run(QStringLiteral("select count(*) from t_dicom_outbox"
                                                " where content_id = :id and kind = :kind and slot = :slot"),
                                 {{":id", contentId}, {":kind", kind}, {":slot", slot}});
        if (known.next() && known.value(0).toInt() > 0)
            continue;
        known.finish();
        db.run(QStringLiteral("insert into t_dicom_outbox (sop_uid, content_id, kind, slot, state, attempts, next_try)"
                              " values (:uid, :id, :kind, :slot, 'waiting', 0, 0)"),
               {{":uid", StudyInstance::newUid()}, {":id", contentId}, {":kind", kind}, {":slot", slot}});
        ++queued;
    }
    return queued;
}

int queueStoredRecords(Database &db, const QString &number, int *records)
{
    QList<qint64> ids;
    {
        QSqlQuery query = number.isEmpty()
            ? db.run(QStringLiteral("select ID from t_contents order by ID"), {})
            : db.run(QStringLiteral("select ID from t_contents where client_id_key = :key order by ID"),
                     {{":key", PatientText::key(number)}});
        while (query.next())
            ids.append(query.value(0).toLongLong());
    }
    if (records)
        *records = int(ids.size());
    int queued = 0;
    for (qint64 id : ids) {
        ScopedTransaction transaction(db);
        queued += queueRecord(db, id);
        transaction.commit();
    }
    return queued;
}

QList<Entry> entries(const Database &db)
{
    QSqlQuery query = db.run(QStringLiteral("select o.sop_uid, o.content_id, c.client_id, o.kind, o.slot, o.state,"
                                            " o.attempts, o.next_try, o.last_error, o.sent_at"
                                            " from t_dicom_outbox o left join t_contents c on c.ID = o.content_id"
                                            " order by o.content_id, o.kind, o.slot"),
                             {});
    QList<Entry> list;
    while (query.next()) {
        Entry entry;
        entry.sopUid = query.value(0).toString();
        entry.contentId = query.value(1).toLongLong();
        entry.patientNumber = query.value(2).toString();
        entry.kind = query.value(3).toString();
        entry.slot = query.value(4).toInt();
        entry.state = query.value(5).toString();
        entry.attempts = query.value(6).toInt();
        entry.nextTry = QDateTime::fromMSecsSinceEpoch(query.value(7).toLongLong());
        entry.lastError = query.value(8).toString();
        entry.sentAt = query.value(9).toString();
        list.append(entry);
    }
    return list;
}

Summary summary(const Database &db)
{
    Summary summary;
    QSqlQuery query = db.run(QStringLiteral("select attempts, last_error from t_dicom_outbox where state = 'waiting'"
                                            " order by next_try desc"),
                             {});
    while (query.next()) {
        ++summary.waiting;
        if (query.value(0).toInt() > 0) {
            if (summary.failing++ == 0)
                summary.lastError = query.value(1).toString();
        }
    }
    return summary;
}

QDateTime nextDue(const Database &db)
{
    QSqlQuery query = db.run(QStringLiteral("select min(next_try) from t_dicom_outbox where state = 'waiting'"), {});
    if (!query.next() || query.value(0).isNull())
        return {};
    return QDateTime::fromMSecsSinceEpoch(query.value(0).toLongLong());
}

Delivery deliver(Database &db, const DicomPeer &pacs, const ReportSource &report, bool ignoreBackOff,
                 DicomCancel *cancel, const std::function<void(int done, int total)> &progress)
{
    QList<Waiting> due;
    {
        QSqlQuery query = db.run(QStringLiteral("select sop_uid, content_id, kind, slot, attempts from t_dicom_outbox"
                                                " where state = 'waiting' and next_try <= :now"
                                                " order by content_id, kind, slot"),
                                 {{":now", ignoreBackOff ? std::numeric_limits<qint64>::max() : nowMs()}});
        while (query.next())
            due.append({query.value(0).toString(), query.value(1).toLongLong(), query.value(2).toString(),
                        query.value(3).toInt(), query.value(4).toInt()});
    }
    Delivery delivery;
    if (due.isEmpty())
        return delivery;

    std::unique_ptr<StoreClient> client;
    QString unreachable; // the PACS could not be reached in this pass: not tried again for each instance
    int done = 0;
    for (const Waiting &entry : due) {
        if (cancel && cancel->cancelled())
            break;
        if (progress)
            progress(done++, due.size());
        std::optional<Record> record;
        try {
            if (!unreachable.isEmpty())
                throw DicomError(unreachable);
            record = recordOf(db, entry.contentId);
            const std::optional<Study> study = studyOf(db, entry.contentId);
            if (!record || !study) {
                // The record was deleted after the instance was queued: it is not sent.
                db.run(QStringLiteral("delete from t_dicom_outbox where sop_uid = :uid and state = 'waiting'"),
                       {{":uid", entry.sopUid}});
                qCInfo(lcDicom) << "instance" << entry.sopUid << "dropped: its record is gone";
                continue;
            }
            std::unique_ptr<DcmFileFormat> instance = buildInstance(db, entry, *record, *study, report);
            if (!client || !client->isConnected()) {
                try {
                    client = std::make_unique<StoreClient>(pacs, cancel);
                } catch (const DicomError &error) {
                    unreachable = error.message();
                    throw;
                }
            }
            client->store(*instance->getDataset());
            markSent(db, entry.sopUid);
            delivery.sent.append(describe(entry, record ? &*record : nullptr) + QStringLiteral(": ") + entry.sopUid);
            qCDebug(lcDicom) << "sent" << entry.sopUid;
        } catch (const AppError &error) {
            // Cancelled: not a failure of the instance, which waits as it was for the next pass.
            if (cancel && cancel->cancelled()) {
                qCInfo(lcDicom) << "delivery cancelled; instance" << entry.sopUid << "stays queued";
                break;
            }
            qCWarning(lcDicom).noquote() << "not sent:" << entry.sopUid << error.message();
            delivery.failed.append(describe(entry, record ? &*record : nullptr) + QStringLiteral(": ")
                                   + error.message());
            try {
                markFailed(db, entry, error.message());
            } catch (const AppError &failure) {
                qCWarning(lcDicom).noquote() << "cannot record the failure:" << failure.message();
            }
        }
    }
    if (progress)
        progress(done, due.size());
    return delivery;
}

} // namespace DicomOutbox

// ---- the worker ----------------------------------------------------------------------------

OutboxWorker::OutboxWorker(const DatabaseParameters &database, const DicomPeer &pacs, const ReportSource &report,
                           QObject *parent)
    : QObject(parent)
    , m_database(database)
    , m_pacs(pacs)
    , m_report(report)
{
}

OutboxWorker::~OutboxWorker()
{
    stop();
}

void OutboxWorker::start()
{
    if (m_thread.joinable())
        return;
    m_stop = false;
    m_cancel.reset();
    m_thread = std::thread([this] { run(); });
}

void OutboxWorker::wake()
{
    {
        const std::lock_guard lock(m_mutex);
        m_woken = true;
    }
    m_wakeUp.notify_one();
}

void OutboxWorker::stop()
{
    if (!m_thread.joinable())
        return;
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_cancel.cancel();
    m_wakeUp.notify_one();
    m_thread.join();
}

bool OutboxWorker::pause(qint64 ms)
{
    std::unique_lock lock(m_mutex);
    m_wakeUp.wait_for(lock, std::chrono::milliseconds(std::max<qint64>(ms, 50)), [this] { return m_woken || m_stop; });
    m_woken = false;
    return !m_stop;
}

void OutboxWorker::run()
{
    Database db;
    // A database that cannot be opened (a server away, a file locked) is tried again with
    // back-off; what waits in it waits meanwhile.
    for (qint64 retryMs = kFirstRetryMs;; retryMs = std::min(kLongestRetryMs, retryMs * 2)) {
        try {
            db.open(m_database);
            break;
        } catch (const AppError &error) {
            qCWarning(lcDicom).noquote() << "the outbox cannot open the database:" << error.message();
            emit stateChanged(-1, -1, error.message());
        }
        if (!pause(retryMs))
            return;
    }
    // A start is a good moment to try what waited for the PACS, whatever its retry time.
    bool firstPass = true;
    QDateTime due;
    do {
        try {
            DicomOutbox::deliver(db, m_pacs, m_report, firstPass, &m_cancel);
            if (m_cancel.cancelled())
                return;
            firstPass = false;
            const DicomOutbox::Summary state = DicomOutbox::summary(db);
            emit stateChanged(state.waiting, state.failing, state.lastError);
            due = DicomOutbox::nextDue(db);
        } catch (const AppError &error) {
            // The database was busy or went away: look again after the first retry time.
            qCWarning(lcDicom).noquote() << "outbox pass failed:" << error.message();
            due = QDateTime::currentDateTime().addMSecs(kFirstRetryMs);
        }
    } while (pause(due.isValid() ? due.toMSecsSinceEpoch() - nowMs() : kLongestRetryMs));
}
