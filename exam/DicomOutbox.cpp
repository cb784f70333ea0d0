#include "exam/DicomOutbox.h"

#include "capture/ClipStream.h"
#include "core/AppError.h"
#include "core/Audit.h"
#include "core/IniFile.h"
#include "dicom/Logging.h"
#include "dicom/MeasurementReport.h"
#include "dicom/ProcedureStep.h"
#include "dicom/StorageCommitment.h"
#include "dicom/StoreClient.h"
#include "dicom/StudyInstance.h"
#include "records/Database.h"
#include "records/MeasurementStore.h"
#include "records/OutboxStore.h"
#include "records/PatientText.h"
#include "records/PictureStore.h"
#include "records/Statements.h"

#include <QFile>
#include <QMap>
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
// The measurement report: sorted after the record's images, so it goes once they are sent.
const QString kMeasurements = QStringLiteral("measurements");
// The report's series number, apart from the pictures (1), the report page (2) and the clips (3, 4, ...).
constexpr int kMeasurementSeriesNumber = 100;

// The storage SOP class each kind of outbox entry is sent as.
const char *sopClassOf(const QString &kind)
{
    if (kind == kReport)
        return UID_EncapsulatedPDFStorage;
    if (kind == kVideo)
        return UID_VideoEndoscopicImageStorage;
    if (kind == kMeasurements)
        return UID_ComprehensiveSRStorage;
    return UID_SecondaryCaptureImageStorage;
}

constexpr qint64 kFirstRetryMs = 5000;
constexpr qint64 kLongestRetryMs = 10 * 60 * 1000;
// A commitment request not answered within this time is sent again.
constexpr qint64 kCommitAnswerWaitMs = 10 * 60 * 1000;
constexpr int kCommitsPerPass = 5;

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

// The calibration of a slot's picture, from the lengths measured on it (the last one's when
// a recalibration came between them); none for a picture never measured.
PixelCalibration calibrationOf(const Measurements &measurements, int slot)
{
    PixelCalibration calibration;
    for (const Measurement &m : measurements) {
        if (m.slot != slot || !(m.mmPerPixel > 0))
            continue;
        calibration.mmPerPixel = m.mmPerPixel;
        calibration.description = m.method == Measurement::kKnownLength
            ? QStringLiteral("Object of known length, %1 mm/pixel at capture height %2")
                  .arg(IniFile::formatFloat(m.calibrationRatio))
                  .arg(m.calibrationHeight)
            : QStringLiteral("Stored real picture height, %1 pixels high").arg(m.calibrationHeight);
    }
    return calibration;
}

// Each length with the image instance of its slot; lengths of a slot without one are left out.
QList<ReportedLength> reportedLengths(const Database &db, qint64 contentId)
{
    QMap<int, QString> images;
    for (const OutboxStore::Entry &entry : OutboxStore::entries(db)) {
        if (entry.contentId == contentId && entry.kind == kImage)
            images.insert(entry.slot, entry.sopUid);
    }
    QList<ReportedLength> lengths;
    for (const Measurement &m : MeasurementStore::ofRecord(db, contentId)) {
        if (images.contains(m.slot))
            lengths.append({.measurement = m, .imageSopUid = images.value(m.slot)});
    }
    return lengths;
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
    if (entry.kind == kMeasurements) {
        return MeasurementReport::build(
            values, {MeasurementStore::reportSeries(db, entry.contentId), entry.sopUid, kMeasurementSeriesNumber, 1},
            study.imageSeriesUid, reportedLengths(db, entry.contentId));
    }
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
    return StudyInstance::jpegImage(values, {study.imageSeriesUid, entry.sopUid, 1, entry.slot}, picture.readAll(),
                                    calibrationOf(MeasurementStore::ofRecord(db, entry.contentId), entry.slot));
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
    if (entry.kind == kMeasurements)
        return QStringLiteral("patient %1, record %2, measurements").arg(patient).arg(entry.contentId);
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
    // A measured examination also sends its lengths, in a series of their own: those on a
    // picture that is sent.
    const Measurements measured = MeasurementStore::ofRecord(db, contentId);
    if (std::any_of(measured.begin(), measured.end(), [&](const Measurement &m) {
            return m.slot >= 1 && m.slot <= 4 && !record->exam.pic[m.slot - 1].isEmpty();
        })) {
        if (MeasurementStore::reportSeries(db, contentId).isEmpty())
            MeasurementStore::insertReportSeries(db, contentId, StudyInstance::newUid());
        wanted.append({kMeasurements, 0});
    }
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
    PerformedSeries measurements{.seriesUid = MeasurementStore::reportSeries(db, contentId),
                                 .description = record->exam.title,
                                 .sopClass = QString::fromLatin1(UID_ComprehensiveSRStorage),
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
        } else if (entry.kind == kMeasurements) {
            measurements.sopUids.append(entry.sopUid);
        } else {
            (entry.kind == kReport ? report : images).sopUids.append(entry.sopUid);
        }
    }
    QList<PerformedSeries> series;
    for (const PerformedSeries &one : QList<PerformedSeries>{images, report, measurements} + clips) {
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

Summary summary(const Database &db, bool commit)
{
    return OutboxStore::summary(db, commit);
}

bool keepCommitReport(Database &db, const CommitReport &report)
{
    try {
        ScopedTransaction transaction(db);
        const bool known = OutboxStore::applyCommitReport(db, report.transactionUid, report.committed, report.failed);
        transaction.commit();
        if (!known) {
            qCWarning(lcDicom) << "storage commitment answer for an unknown request" << report.transactionUid;
            return false;
        }
        for (const auto &[sopUid, reason] : report.failed)
            qCWarning(lcDicom) << "the PACS did not commit" << sopUid << "reason" << Qt::hex << reason;
        return true;
    } catch (const AppError &error) {
        qCWarning(lcDicom).noquote() << "cannot keep the storage commitment answer:" << error.message();
        return false;
    }
}

Delivery deliverCommitments(Database &db, const DicomPeer &pacs, DicomCancel *cancel)
{
    Delivery delivery;
    // Each record whose instances are all stored gets a request for those not committed.
    const QList<OutboxStore::Stored> stored = OutboxStore::uncommitted(db);
    for (qsizetype first = 0; first < stored.size();) {
        qsizetype end = first;
        QStringList sopUids;
        while (end < stored.size() && stored[end].contentId == stored[first].contentId)
            sopUids.append(stored[end++].sopUid);
        ScopedTransaction transaction(db);
        OutboxStore::queueCommit(db, StudyInstance::newUid(), stored[first].contentId, sopUids, nowMs());
        transaction.commit();
        first = end;
    }
    // Each request may wait kSameAssociationWaitSeconds for an answer: a few per pass, so that a
    // backlog (commit=1 set on a station with a long past) never holds the next instances long.
    int asked = 0;
    for (const OutboxStore::Commit &commit : OutboxStore::dueCommits(db, nowMs())) {
        if ((cancel && cancel->cancelled()) || asked++ == kCommitsPerPass)
            break;
        const QString what =
            QStringLiteral("record %1, storage commitment %2").arg(commit.contentId).arg(commit.transactionUid);
        QList<CommitItem> items;
        for (const OutboxStore::Stored &item : commit.items)
            items.append({.sopClass = QString::fromLatin1(sopClassOf(item.kind)), .sopUid = item.sopUid});
        try {
            if (items.isEmpty()) {
                // Every instance was asked for again under a newer request.
                OutboxStore::applyCommitReport(db, commit.transactionUid, {}, {});
                continue;
            }
            StorageCommitment::ask(
                pacs, commit.transactionUid, items,
                [&db](const CommitReport &report) { return keepCommitReport(db, report); }, cancel);
            OutboxStore::markCommitAsked(db, commit.transactionUid, nowMs() + kCommitAnswerWaitMs);
            delivery.sent.append(what);
        } catch (const AppError &error) {
            if (cancel && cancel->cancelled())
                break;
            qCWarning(lcDicom).noquote() << "not asked:" << what << error.message();
            delivery.failed.append(what + QStringLiteral(": ") + error.message());
            const qint64 wait = std::min(kLongestRetryMs, kFirstRetryMs << std::min(commit.attempts, 20));
            try {
                OutboxStore::markCommitFailed(db, commit.transactionUid, nowMs() + wait, error.message());
            } catch (const AppError &failure) {
                qCWarning(lcDicom).noquote() << "cannot record the failure:" << failure.message();
            }
        }
    }
    return delivery;
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

void OutboxWorker::setCommitment(const DicomPeer &listener)
{
    m_commit = true;
    m_listenerPeer = listener;
}

void OutboxWorker::start()
{
    if (m_thread.joinable())
        return;
    m_stop = false;
    m_cancel.reset();
    if (m_commit && m_listenerPeer.enabled()) {
        m_listener = std::make_unique<CommitListener>(m_listenerPeer, [this](const CommitReport &report) {
            // A connection of the listener's thread, for the few answers a day.
            Database db;
            try {
                db.open(m_database);
            } catch (const AppError &error) {
                qCWarning(lcDicom).noquote() << "the listener cannot open the database:" << error.message();
                return false;
            }
            const bool kept = DicomOutbox::keepCommitReport(db, report);
            wake();
            return kept;
        });
        try {
            m_listener->start();
        } catch (const AppError &error) {
            // The commitments still come on the request's own association, when the PACS sends them there.
            qCWarning(lcDicom).noquote() << error.message();
            emit stateChanged(-1, -1, error.message());
        }
    }
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
    if (m_listener)
        m_listener->stop();
    m_thread.join();
    m_listener.reset();
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
            if (m_commit)
                DicomOutbox::deliverCommitments(db, m_pacs, &m_cancel);
            if (m_cancel.cancelled())
                return;
            firstPass = false;
            const DicomOutbox::Summary state = DicomOutbox::summary(db, m_commit);
            emit stateChanged(state.waiting, state.failing, state.lastError);
            due = DicomOutbox::nextDue(db);
        } catch (const AppError &error) {
            // The database was busy or went away: look again after the first retry time.
            qCWarning(lcDicom).noquote() << "outbox pass failed:" << error.message();
            due = QDateTime::currentDateTime().addMSecs(kFirstRetryMs);
        }
    } while (pause(due.isValid() ? due.toMSecsSinceEpoch() - nowMs() : kLongestRetryMs));
}
