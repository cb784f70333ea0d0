#include "exam/DicomOutbox.h"

#include "capture/ClipStream.h"
#include "core/AppError.h"
#include "core/Audit.h"
#include "dicom/Logging.h"
#include "dicom/ProcedureStep.h"
#include "dicom/StoreClient.h"
#include "dicom/StudyInstance.h"
#include "records/Database.h"
#include "records/OutboxStore.h"
#include "records/PatientText.h"
#include "records/PictureStore.h"
#include "records/Statements.h"

#include <QFile>
#include <QSet>

#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcuid.h>

#include <algorithm>
#include <chrono>
#include <limits>
#include <memory>
#include <optional>

namespace {

const QString kWaiting = QStringLiteral("waiting");
const QString kImage = QStringLiteral("image");
const QString kReport = QStringLiteral("report");
const QString kVideo = QStringLiteral("video");
constexpr qint64 kFirstRetryMs = 5000;
constexpr qint64 kLongestRetryMs = 10 * 60 * 1000;

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

using OutboxStore::Study;

OutboxStore::Order storedOrder(const WorklistOrder &order)
{
    return {.studyUid = order.studyUid,
            .accessionNumber = order.accessionNumber,
            .accessionIssuer = order.accessionIssuer,
            .requestedProcedureId = order.requestedProcedureId,
            .requestedProcedureDescription = order.requestedProcedureDescription,
            .requestedProcedureCodes = WorklistOrder::codesText(order.requestedProcedureCodes),
            .scheduledStepId = order.scheduledStepId,
            .scheduledStepDescription = order.scheduledStepDescription,
            .protocolCodes = WorklistOrder::codesText(order.protocolCodes),
            .referringPhysician = order.referringPhysician,
            .patientName = order.patientName,
            .birthDate = order.birthDate,
            .sex = order.sex,
            .issuerOfPatientId = order.issuerOfPatientId};
}

WorklistOrder orderOf(const Database &db, qint64 contentId)
{
    const std::optional<OutboxStore::Order> stored = OutboxStore::order(db, contentId);
    if (!stored)
        return {};
    return {.studyUid = stored->studyUid,
            .accessionNumber = stored->accessionNumber,
            .accessionIssuer = stored->accessionIssuer,
            .requestedProcedureId = stored->requestedProcedureId,
            .requestedProcedureDescription = stored->requestedProcedureDescription,
            .requestedProcedureCodes = WorklistOrder::codesFromText(stored->requestedProcedureCodes),
            .scheduledStepId = stored->scheduledStepId,
            .scheduledStepDescription = stored->scheduledStepDescription,
            .protocolCodes = WorklistOrder::codesFromText(stored->protocolCodes),
            .referringPhysician = stored->referringPhysician,
            .patientName = stored->patientName,
            .birthDate = stored->birthDate,
            .sex = stored->sex,
            .issuerOfPatientId = stored->issuerOfPatientId};
}
using OutboxStore::Waiting;

struct Record {
    Statements::ExamRecord exam;
    Statements::Patient patient;
};

std::optional<Record> recordOf(const Database &db, qint64 contentId)
{
    std::optional<Statements::ExamRecord> exam = Statements::loadExamRecord(db, contentId);
    if (!exam)
        return std::nullopt;
    Record record{.exam = *exam, .patient = {}};
    for (QString &name : record.exam.pic)
        name = name.trimmed();
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
                             .studyUid = study.studyUid,
                             .studyId = QString::number(entry.contentId),
                             .order = orderOf(db, entry.contentId)};
    if (entry.kind == kReport)
        return StudyInstance::pdfDocument(values, {study.reportSeriesUid, entry.sopUid, 2, 1},
                                          ReportPdf::render(db, entry.contentId, report));
    if (entry.kind == kVideo) {
        const std::optional<OutboxStore::Clip> clip = OutboxStore::clip(db, entry.sopUid);
        if (!clip)
            throw AppError(
                QStringLiteral("The clip %1 of record %2 is unknown.").arg(entry.sopUid).arg(entry.contentId));
        // The file is on the workstation that recorded it.
        const H264Clip video = readH264Clip(clip->file);
        if (!video.error.isEmpty())
            throw AppError(video.error);
        // Each clip is a series of its own, after the pictures (1) and the report (2).
        return StudyInstance::videoClip(values, {clip->seriesUid, entry.sopUid, 2 + entry.slot, 1},
                                        {.h264 = video.stream,
                                         .width = video.size.width(),
                                         .height = video.size.height(),
                                         .frames = video.frames,
                                         .fpsNumerator = video.fpsNumerator,
                                         .fpsDenominator = video.fpsDenominator,
                                         .recordedAt = clip->recordedAt});
    }
    const QString name = entry.slot >= 1 && entry.slot <= 4 ? record.exam.pic[entry.slot - 1] : QString();
    // With the records on a server the picture may have been saved in another room.
    if (!name.isEmpty() && !name.contains(u'/'))
        PictureStore::fetchWhenMissing(db, report.imagesFolder, name);
    QFile picture(report.imagesFolder + name);
    if (name.isEmpty() || name.contains(u'/') || !picture.open(QIODevice::ReadOnly))
        throw AppError(QStringLiteral("The picture %1 of record %2 cannot be read.").arg(name).arg(entry.contentId));
    return StudyInstance::jpegImage(values, {study.imageSeriesUid, entry.sopUid, 1, entry.slot}, picture.readAll());
}

void markFailed(const Database &db, const Waiting &entry, const QString &error)
{
    const qint64 wait = std::min(kLongestRetryMs, kFirstRetryMs << std::min(entry.attempts, 20));
    OutboxStore::markFailed(db, entry.sopUid, nowMs() + wait, error);
}

QString describe(const Waiting &entry, const Record *record)
{
    const QString patient = record ? record->exam.client_id : QString();
    if (entry.kind == kReport)
        return QStringLiteral("patient %1, record %2, report").arg(patient).arg(entry.contentId);
    return QStringLiteral("patient %1, record %2, %3 %4")
        .arg(patient)
        .arg(entry.contentId)
        .arg(entry.kind == kVideo ? QStringLiteral("clip") : QStringLiteral("picture"))
        .arg(entry.slot);
}

} // namespace

namespace DicomOutbox {

int queueRecord(const Database &db, qint64 contentId, const WorklistOrder &order, const QString &studyUid)
{
    const std::optional<Record> record = recordOf(db, contentId);
    if (!record)
        return 0;
    if (!OutboxStore::study(db, contentId)) {
        OutboxStore::insertStudy(db, contentId,
                                 {.studyUid = !order.studyUid.isEmpty() ? order.studyUid
                                      : !studyUid.isEmpty()             ? studyUid
                                                                        : StudyInstance::newUid(),
                                  .imageSeriesUid = StudyInstance::newUid(),
                                  .reportSeriesUid = StudyInstance::newUid(),
                                  .accessionNumber = order.accessionNumber});
        if (!order.isEmpty())
            OutboxStore::insertOrder(db, contentId, storedOrder(order));
    }
    QList<std::pair<QString, int>> wanted;
    for (int slot = 1; slot <= 4; ++slot) {
        if (!record->exam.pic[slot - 1].isEmpty())
            wanted.append({kImage, slot});
    }
    wanted.append({kReport, 0});
    int queued = 0;
    for (const auto &[kind, slot] : wanted) {
        if (OutboxStore::isQueued(db, contentId, kind, slot))
            continue;
        OutboxStore::queue(db, StudyInstance::newUid(), contentId, kind, slot);
        ++queued;
    }
    return queued;
}

void queueStepInProgress(const Database &db, const QString &stepUid, const StudyValues &study, const QString &stationAe)
{
    const QDateTime now = QDateTime::currentDateTime();
    // The performed step's ID: the step's UID is unique, its last 16 characters are enough.
    auto attributes = ProcedureStep::inProgress(study, stepUid.right(16), stationAe, now);
    OutboxStore::queueStep(db, stepUid, 1, 0, QString::fromLatin1(ProcedureStep::bytesOf(*attributes).toBase64()),
                           nowMs());
}

void queueStepCompleted(const Database &db, const QString &stepUid, qint64 contentId)
{
    const std::optional<Record> record = recordOf(db, contentId);
    const std::optional<Study> study = OutboxStore::study(db, contentId);
    if (!record || !study)
        return;
    PerformedSeries images{.seriesUid = study->imageSeriesUid,
                           .description = record->exam.title,
                           .sopClass = QString::fromLatin1(UID_SecondaryCaptureImageStorage),
                           .sopUids = {},
                           .images = true};
    PerformedSeries report{.seriesUid = study->reportSeriesUid,
                           .description = record->exam.title,
                           .sopClass = QString::fromLatin1(UID_EncapsulatedPDFStorage),
                           .sopUids = {},
                           .images = false};
    QList<PerformedSeries> clips; // each clip is a series of its own
    for (const Entry &entry : OutboxStore::entries(db)) {
        if (entry.contentId != contentId)
            continue;
        if (entry.kind == u"video") {
            const std::optional<OutboxStore::Clip> clip = OutboxStore::clip(db, entry.sopUid);
            clips.append({.seriesUid = clip ? clip->seriesUid : QString(),
                          .description = record->exam.title,
                          .sopClass = QString::fromLatin1(UID_VideoEndoscopicImageStorage),
                          .sopUids = {entry.sopUid},
                          .images = true});
        } else {
            (entry.kind == kReport ? report : images).sopUids.append(entry.sopUid);
        }
    }
    QList<PerformedSeries> series;
    for (const PerformedSeries &one : QList<PerformedSeries>{images, report} + clips) {
        if (!one.sopUids.isEmpty() && !one.seriesUid.isEmpty())
            series.append(one);
    }
    const StudyValues values{.performingPhysician = record->exam.doctor};
    auto attributes = ProcedureStep::completed(values, QDateTime::currentDateTime(), series);
    OutboxStore::queueStep(db, stepUid, 2, contentId,
                           QString::fromLatin1(ProcedureStep::bytesOf(*attributes).toBase64()), nowMs());
}

void queueStepDiscontinued(const Database &db, const QString &stepUid, ProcedureStep::Abandoned why)
{
    auto attributes = ProcedureStep::discontinued(QDateTime::currentDateTime(), why);
    OutboxStore::queueStep(db, stepUid, 2, 0, QString::fromLatin1(ProcedureStep::bytesOf(*attributes).toBase64()),
                           nowMs());
}

Delivery deliverSteps(Database &db, const DicomPeer &ris, DicomCancel *cancel)
{
    Delivery delivery;
    if (!ris.enabled())
        return delivery;
    QSet<QString> held; // steps whose earlier message failed in this pass
    for (const OutboxStore::Step &step : OutboxStore::dueSteps(db, nowMs())) {
        if (cancel && cancel->cancelled())
            break;
        if (held.contains(step.stepUid))
            continue;
        const QString what = QStringLiteral("procedure step %1 %2").arg(step.stepUid, stepStatus(step));
        try {
            std::unique_ptr<DcmDataset> attributes =
                ProcedureStep::datasetOf(QByteArray::fromBase64(step.attributes.toLatin1()));
            if (!attributes)
                throw AppError(QStringLiteral("The stored procedure step cannot be read."));
            ProcedureStep::send(ris, step.seq == 1, step.stepUid, *attributes, cancel);
            OutboxStore::markStepSent(db, step.stepUid, step.seq, QDateTime::currentDateTime());
            delivery.sent.append(what);
        } catch (const AppError &error) {
            if (cancel && cancel->cancelled())
                break;
            held.insert(step.stepUid);
            qCWarning(lcDicom).noquote() << "not sent:" << what << error.message();
            delivery.failed.append(what + QStringLiteral(": ") + error.message());
            const qint64 wait = std::min(kLongestRetryMs, kFirstRetryMs << std::min(step.attempts, 20));
            try {
                OutboxStore::markStepFailed(db, step.stepUid, step.seq, nowMs() + wait, error.message());
            } catch (const AppError &failure) {
                qCWarning(lcDicom).noquote() << "cannot record the failure:" << failure.message();
            }
        }
    }
    return delivery;
}

QString stepStatus(const OutboxStore::Step &step)
{
    if (step.seq == 1)
        return QStringLiteral("in progress");
    return step.contentId > 0 ? QStringLiteral("completed") : QStringLiteral("discontinued");
}

QList<OutboxStore::Step> steps(const Database &db)
{
    return OutboxStore::steps(db);
}

void queueClip(Database &db, const QString &file, const QString &patientNumber, qint64 savedContentId,
               const QDateTime &recordedAt)
{
    ScopedTransaction transaction(db);
    const QString sopUid = StudyInstance::newUid();
    OutboxStore::insertClip(db,
                            {.sopUid = sopUid,
                             .seriesUid = StudyInstance::newUid(),
                             .patientKey = PatientText::key(patientNumber),
                             .file = file,
                             .recordedAt = recordedAt,
                             .contentId = 0});
    if (savedContentId > 0)
        OutboxStore::queueClip(db, sopUid, savedContentId);
    transaction.commit();
}

int queueWaitingClips(const Database &db, qint64 contentId, const QString &patientNumber,
                      const QDateTime &unnumberedSince)
{
    QList<OutboxStore::Clip> clips = OutboxStore::waitingClips(db, PatientText::key(patientNumber));
    // The stored times have whole seconds.
    const QDateTime since = unnumberedSince.addMSecs(-unnumberedSince.time().msec());
    for (const OutboxStore::Clip &clip : OutboxStore::waitingClips(db, QString()))
        if (clip.recordedAt >= since)
            clips.append(clip);
    for (const OutboxStore::Clip &clip : clips)
        OutboxStore::queueClip(db, clip.sopUid, contentId);
    return int(clips.size());
}

int queueStoredRecords(Database &db, const QString &number, int *records)
{
    const QList<qint64> ids = Statements::examRecordIds(db, number);
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
    return OutboxStore::entries(db);
}

Summary summary(const Database &db)
{
    return OutboxStore::summary(db);
}

QDateTime nextDue(const Database &db)
{
    return OutboxStore::nextDue(db);
}

Delivery deliver(Database &db, const DicomPeer &pacs, const ReportSource &report, bool ignoreBackOff,
                 DicomCancel *cancel, const std::function<void(int done, int total)> &progress)
{
    const QList<Waiting> due = OutboxStore::due(db, ignoreBackOff ? std::numeric_limits<qint64>::max() : nowMs());
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
            const std::optional<Study> study = OutboxStore::study(db, entry.contentId);
            if (!record || !study) {
                // The record was deleted after the instance was queued: it is not sent.
                OutboxStore::dropWaiting(db, entry.sopUid);
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
            OutboxStore::markSent(db, entry.sopUid, QDateTime::currentDateTime());
            Audit::record(Audit::Event::InstancesSent, record->exam.client_id);
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
                           QObject *parent, const DicomPeer &ris)
    : QObject(parent)
    , m_database(database)
    , m_pacs(pacs)
    , m_ris(ris)
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
            DicomOutbox::deliverSteps(db, m_ris, &m_cancel);
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
