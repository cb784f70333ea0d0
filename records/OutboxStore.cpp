#include "records/OutboxStore.h"

#include "records/Database.h"
#include "records/Statements.h"

namespace OutboxStore {

std::optional<Study> study(const Database &db, qint64 contentId)
{
    QSqlQuery query = db.run(QStringLiteral("select study_uid, image_series_uid, report_series_uid, accession_number"
                                            " from t_dicom_studies where content_id = :id"),
                             {{":id", contentId}});
    if (!query.next())
        return std::nullopt;
    return Study{query.value(0).toString(), query.value(1).toString(), query.value(2).toString(),
                 query.value(3).toString()};
}

void insertStudy(const Database &db, qint64 contentId, const Study &study)
{
    db.run(QStringLiteral("insert into t_dicom_studies (content_id, study_uid, image_series_uid, report_series_uid,"
                          " accession_number) values (:id, :study, :images, :report, :accession)"),
           {{":id", contentId},
            {":study", study.studyUid},
            {":images", study.imageSeriesUid},
            {":report", study.reportSeriesUid},
            {":accession", study.accessionNumber}});
}

std::optional<Order> order(const Database &db, qint64 contentId)
{
    QSqlQuery query =
        db.run(QStringLiteral("select study_uid, accession_number, accession_issuer, requested_procedure_id,"
                              " requested_procedure_description, requested_procedure_codes, scheduled_step_id,"
                              " scheduled_step_description, protocol_codes, referring_physician, patient_name,"
                              " birth_date, sex, issuer_of_patient_id from t_dicom_orders where content_id = :id"),
               {{":id", contentId}});
    if (!query.next())
        return std::nullopt;
    const auto text = [&](int column) { return query.value(column).toString(); };
    return Order{.studyUid = text(0),
                 .accessionNumber = text(1),
                 .accessionIssuer = text(2),
                 .requestedProcedureId = text(3),
                 .requestedProcedureDescription = text(4),
                 .requestedProcedureCodes = text(5),
                 .scheduledStepId = text(6),
                 .scheduledStepDescription = text(7),
                 .protocolCodes = text(8),
                 .referringPhysician = text(9),
                 .patientName = text(10),
                 .birthDate = text(11),
                 .sex = text(12),
                 .issuerOfPatientId = text(13)};
}

void insertOrder(const Database &db, qint64 contentId, const Order &order)
{
    db.run(QStringLiteral("insert into t_dicom_orders (content_id, study_uid, accession_number, accession_issuer,"
                          " requested_procedure_id, requested_procedure_description, requested_procedure_codes,"
                          " scheduled_step_id, scheduled_step_description, protocol_codes, referring_physician,"
                          " patient_name, birth_date, sex, issuer_of_patient_id)"
                          " values (:id, :study, :accession, :issuer, :rp_id, :rp_description, :rp_codes,"
                          " :sps_id, :sps_description, :protocol, :referring, :name, :birth, :sex, :pid_issuer)"),
           {{":id", contentId},
            {":study", order.studyUid},
            {":accession", order.accessionNumber},
            {":issuer", order.accessionIssuer},
            {":rp_id", order.requestedProcedureId},
            {":rp_description", order.requestedProcedureDescription},
            {":rp_codes", order.requestedProcedureCodes},
            {":sps_id", order.scheduledStepId},
            {":sps_description", order.scheduledStepDescription},
            {":protocol", order.protocolCodes},
            {":referring", order.referringPhysician},
            {":name", order.patientName},
            {":birth", order.birthDate},
            {":sex", order.sex},
            {":pid_issuer", order.issuerOfPatientId}});
}

void insertClip(const Database &db, const Clip &clip)
{
    db.run(
        QStringLiteral("insert into t_dicom_clips (sop_uid, series_uid, client_id_key, file, recorded_at, content_id)"
                       " values (:uid, :series, :key, :file, :at, :id)"),
        {{":uid", clip.sopUid},
         {":series", clip.seriesUid},
         {":key", clip.patientKey},
         {":file", clip.file},
         {":at", clip.recordedAt.toString(Statements::kTimeFormat)},
         {":id", clip.contentId > 0 ? QVariant(clip.contentId) : QVariant(QMetaType(QMetaType::LongLong))}});
}

namespace {

const QString kClipColumns = QStringLiteral("sop_uid, series_uid, client_id_key, file, recorded_at, content_id");

Clip clipOf(const QSqlQuery &query)
{
    return Clip{.sopUid = query.value(0).toString(),
                .seriesUid = query.value(1).toString(),
                .patientKey = query.value(2).toString(),
                .file = query.value(3).toString(),
                .recordedAt = QDateTime::fromString(query.value(4).toString(), Statements::kTimeFormat),
                .contentId = query.value(5).toLongLong()};
}

} // namespace

std::optional<Clip> clip(const Database &db, const QString &sopUid)
{
    QSqlQuery query = db.run(QStringLiteral("select %1 from t_dicom_clips where sop_uid = :uid").arg(kClipColumns),
                             {{":uid", sopUid}});
    if (!query.next())
        return std::nullopt;
    return clipOf(query);
}

QList<Clip> waitingClips(const Database &db, const QString &patientKey)
{
    QSqlQuery query = db.run(QStringLiteral("select %1 from t_dicom_clips where client_id_key = :key"
                                            " and content_id is null order by recorded_at, sop_uid")
                                 .arg(kClipColumns),
                             {{":key", patientKey}});
    QList<Clip> list;
    while (query.next())
        list.append(clipOf(query));
    return list;
}

void queueClip(const Database &db, const QString &sopUid, qint64 contentId)
{
    QSqlQuery last =
        db.run(QStringLiteral("select max(slot) from t_dicom_outbox where content_id = :id and kind = 'video'"),
               {{":id", contentId}});
    const int slot = last.next() ? last.value(0).toInt() + 1 : 1;
    last.finish();
    db.run(QStringLiteral("update t_dicom_clips set content_id = :id where sop_uid = :uid"),
           {{":id", contentId}, {":uid", sopUid}});
    queue(db, sopUid, contentId, QStringLiteral("video"), slot);
}

bool isQueued(const Database &db, qint64 contentId, const QString &kind, int slot)
{
    QSqlQuery known = db.run(QStringLiteral("select count(*) from t_dicom_outbox"
                                            " where content_id = :id and kind = :kind and slot = :slot"),
                             {{":id", contentId}, {":kind", kind}, {":slot", slot}});
    return known.next() && known.value(0).toInt() > 0;
}

void queue(const Database &db, const QString &sopUid, qint64 contentId, const QString &kind, int slot)
{
    db.run(QStringLiteral("insert into t_dicom_outbox (sop_uid, content_id, kind, slot, state, attempts, next_try)"
                          " values (:uid, :id, :kind, :slot, 'waiting', 0, 0)"),
           {{":uid", sopUid}, {":id", contentId}, {":kind", kind}, {":slot", slot}});
}

QList<Waiting> due(const Database &db, qint64 nowMs)
{
    QSqlQuery query = db.run(QStringLiteral("select sop_uid, content_id, kind, slot, attempts from t_dicom_outbox"
                                            " where state = 'waiting' and next_try <= :now"
                                            " order by content_id, kind, slot"),
                             {{":now", nowMs}});
    QList<Waiting> list;
    while (query.next())
        list.append({query.value(0).toString(), query.value(1).toLongLong(), query.value(2).toString(),
                     query.value(3).toInt(), query.value(4).toInt()});
    return list;
}

void markSent(const Database &db, const QString &sopUid, const QDateTime &at)
{
    db.run(QStringLiteral("update t_dicom_outbox set state = 'sent', last_error = null, sent_at = :at"
                          " where sop_uid = :uid"),
           {{":at", at.toString(Statements::kTimeFormat)}, {":uid", sopUid}});
}

void markFailed(const Database &db, const QString &sopUid, qint64 nextTryMs, const QString &error)
{
    db.run(QStringLiteral("update t_dicom_outbox set attempts = attempts + 1, next_try = :next, last_error = :error"
                          " where sop_uid = :uid"),
           {{":next", nextTryMs}, {":error", error}, {":uid", sopUid}});
}

void dropWaiting(const Database &db, const QString &sopUid)
{
    db.run(QStringLiteral("delete from t_dicom_outbox where sop_uid = :uid and state = 'waiting'"), {{":uid", sopUid}});
}

QList<Entry> entries(const Database &db)
{
    QSqlQuery query = db.run(QStringLiteral("select o.sop_uid, o.content_id, c.client_id, o.kind, o.slot, o.state,"
                                            " o.attempts, o.next_try, o.last_error, o.sent_at, m.state, m.failure"
                                            " from t_dicom_outbox o left join t_contents c on c.ID = o.content_id"
                                            " left join t_dicom_commitments m on m.sop_uid = o.sop_uid"
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
        entry.commitment = query.value(10).toString();
        entry.commitFailure = query.value(11).toInt();
        list.append(entry);
    }
    return list;
}

Summary summary(const Database &db, bool commit)
{
    Summary summary;
    if (commit) {
        QSqlQuery stored = db.run(QStringLiteral("select count(*) from t_dicom_outbox o left join t_dicom_commitments m"
                                                 " on m.sop_uid = o.sop_uid where o.state = 'sent'"
                                                 " and (m.state is null or m.state <> 'committed')"),
                                  {});
        if (stored.next())
            summary.waiting = stored.value(0).toInt();
    }
    QSqlQuery query = db.run(QStringLiteral("select attempts, last_error, next_try from t_dicom_outbox"
                                            " where state = 'waiting'"
                                            " union all select attempts, last_error, next_try from t_dicom_steps"
                                            " where state = 'waiting' order by 3 desc"),
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
    QSqlQuery query =
        db.run(QStringLiteral("select min(t) from (select min(next_try) as t from t_dicom_outbox"
                              " where state = 'waiting' union all select min(next_try) from t_dicom_steps"
                              " where state = 'waiting' union all select min(next_try) from t_dicom_commits"
                              " where state <> 'answered') due"),
               {});
    if (!query.next() || query.value(0).isNull())
        return {};
    return QDateTime::fromMSecsSinceEpoch(query.value(0).toLongLong());
}

void queueStep(const Database &db, const QString &stepUid, int seq, qint64 contentId, const QString &attributes,
               qint64 nowMs)
{
    db.run(QStringLiteral("insert into t_dicom_steps (step_uid, seq, content_id, attributes, state, attempts,"
                          " next_try, queued_at) values (:uid, :seq, :id, :attributes, 'waiting', 0, 0, :now)"),
           {{":uid", stepUid}, {":seq", seq}, {":id", contentId}, {":attributes", attributes}, {":now", nowMs}});
}

namespace {

const QString kStepColumns = QStringLiteral(
    "s.step_uid, s.seq, s.content_id, s.attributes, s.state, s.attempts, s.next_try, s.last_error, s.sent_at");

QList<Step> stepsOf(QSqlQuery &query)
{
    QList<Step> list;
    while (query.next())
        list.append({.stepUid = query.value(0).toString(),
                     .seq = query.value(1).toInt(),
                     .contentId = query.value(2).toLongLong(),
                     .attributes = query.value(3).toString(),
                     .state = query.value(4).toString(),
                     .attempts = query.value(5).toInt(),
                     .nextTry = QDateTime::fromMSecsSinceEpoch(query.value(6).toLongLong()),
                     .lastError = query.value(7).toString(),
                     .sentAt = query.value(8).toString()});
    return list;
}

} // namespace

QList<Step> dueSteps(const Database &db, qint64 nowMs)
{
    QSqlQuery query = db.run(QStringLiteral("select %1 from t_dicom_steps s where s.state = 'waiting'"
                                            " and s.next_try <= :now and not exists (select 1 from t_dicom_steps e"
                                            " where e.step_uid = s.step_uid and e.seq < s.seq and e.state = 'waiting')"
                                            " order by s.queued_at, s.seq")
                                 .arg(kStepColumns),
                             {{":now", nowMs}});
    return stepsOf(query);
}

void markStepSent(const Database &db, const QString &stepUid, int seq, const QDateTime &at)
{
    db.run(QStringLiteral("update t_dicom_steps set state = 'sent', last_error = null, sent_at = :at"
                          " where step_uid = :uid and seq = :seq"),
           {{":at", at.toString(Statements::kTimeFormat)}, {":uid", stepUid}, {":seq", seq}});
}

void markStepFailed(const Database &db, const QString &stepUid, int seq, qint64 nextTryMs, const QString &error)
{
    db.run(QStringLiteral("update t_dicom_steps set attempts = attempts + 1, next_try = :next, last_error = :error"
                          " where step_uid = :uid and seq = :seq"),
           {{":next", nextTryMs}, {":error", error}, {":uid", stepUid}, {":seq", seq}});
}

QList<Step> steps(const Database &db)
{
    QSqlQuery query =
        db.run(QStringLiteral("select %1 from t_dicom_steps s order by s.queued_at, s.seq").arg(kStepColumns), {});
    return stepsOf(query);
}

QList<Stored> uncommitted(const Database &db)
{
    QSqlQuery query = db.run(QStringLiteral("select o.sop_uid, o.content_id, o.kind from t_dicom_outbox o"
                                            " left join t_dicom_commitments m on m.sop_uid = o.sop_uid"
                                            " where o.state = 'sent' and (m.state is null or m.state = 'failed')"
                                            " and not exists (select 1 from t_dicom_outbox w"
                                            " where w.content_id = o.content_id and w.state = 'waiting')"
                                            " order by o.content_id, o.kind, o.slot"),
                             {});
    QList<Stored> list;
    while (query.next())
        list.append({query.value(0).toString(), query.value(1).toLongLong(), query.value(2).toString()});
    return list;
}

void queueCommit(const Database &db, const QString &transactionUid, qint64 contentId, const QStringList &sopUids,
                 qint64 nowMs)
{
    db.run(QStringLiteral("insert into t_dicom_commits (transaction_uid, content_id, state, attempts, next_try,"
                          " queued_at) values (:uid, :id, 'waiting', 0, 0, :now)"),
           {{":uid", transactionUid}, {":id", contentId}, {":now", nowMs}});
    for (const QString &sopUid : sopUids)
        db.run(QStringLiteral("insert into t_dicom_commitments (sop_uid, transaction_uid, state, failure)"
                              " values (:sop, :uid, 'pending', null) on conflict (sop_uid) do update"
                              " set transaction_uid = excluded.transaction_uid, state = 'pending', failure = null"),
               {{":sop", sopUid}, {":uid", transactionUid}});
}

QList<Commit> dueCommits(const Database &db, qint64 nowMs)
{
    QSqlQuery query = db.run(QStringLiteral("select transaction_uid, content_id, attempts from t_dicom_commits"
                                            " where state <> 'answered' and next_try <= :now order by queued_at"),
                             {{":now", nowMs}});
    QList<Commit> list;
    while (query.next())
        list.append({.transactionUid = query.value(0).toString(),
                     .contentId = query.value(1).toLongLong(),
                     .attempts = query.value(2).toInt(),
                     .items = {}});
    query.finish();
    for (Commit &commit : list) {
        QSqlQuery items = db.run(QStringLiteral("select m.sop_uid, o.content_id, o.kind from t_dicom_commitments m"
                                                " join t_dicom_outbox o on o.sop_uid = m.sop_uid"
                                                " where m.transaction_uid = :uid and m.state = 'pending'"
                                                " order by o.kind, o.slot"),
                                 {{":uid", commit.transactionUid}});
        while (items.next())
            commit.items.append({items.value(0).toString(), items.value(1).toLongLong(), items.value(2).toString()});
    }
    return list;
}

void markCommitAsked(const Database &db, const QString &transactionUid, qint64 askAgainMs)
{
    db.run(QStringLiteral("update t_dicom_commits set state = 'asked', last_error = null, next_try = :next,"
                          " asked_at = :at where transaction_uid = :uid and state <> 'answered'"),
           {{":next", askAgainMs},
            {":at", QDateTime::currentDateTime().toString(Statements::kTimeFormat)},
            {":uid", transactionUid}});
}

void markCommitFailed(const Database &db, const QString &transactionUid, qint64 nextTryMs, const QString &error)
{
    db.run(QStringLiteral("update t_dicom_commits set attempts = attempts + 1, next_try = :next, last_error = :error"
                          " where transaction_uid = :uid"),
           {{":next", nextTryMs}, {":error", error}, {":uid", transactionUid}});
}

bool applyCommitReport(const Database &db, const QString &transactionUid, const QStringList &committed,
                       const QList<std::pair<QString, quint16>> &failed)
{
    QSqlQuery known = db.run(QStringLiteral("select count(*) from t_dicom_commits where transaction_uid = :uid"),
                             {{":uid", transactionUid}});
    if (!known.next() || known.value(0).toInt() == 0)
        return false;
    known.finish();
    for (const QString &sopUid : committed)
        db.run(QStringLiteral("update t_dicom_commitments set state = 'committed', failure = null"
                              " where sop_uid = :sop and transaction_uid = :uid"),
               {{":sop", sopUid}, {":uid", transactionUid}});
    for (const auto &[sopUid, reason] : failed) {
        QSqlQuery marked = db.run(QStringLiteral("update t_dicom_commitments set state = 'failed', failure = :reason"
                                                 " where sop_uid = :sop and transaction_uid = :uid"),
                                  {{":reason", int(reason)}, {":sop", sopUid}, {":uid", transactionUid}});
        if (marked.numRowsAffected() <= 0)
            continue;
        marked.finish();
        // Stored again at once, then asked to be committed again.
        db.run(QStringLiteral("update t_dicom_outbox set state = 'waiting', next_try = 0, last_error = :error"
                              " where sop_uid = :sop"),
               {{":error",
                 QStringLiteral("not committed by the PACS: failure reason %1").arg(reason, 4, 16, QLatin1Char('0'))},
                {":sop", sopUid}});
    }
    db.run(QStringLiteral("update t_dicom_commits set state = 'answered', last_error = null"
                          " where transaction_uid = :uid"),
           {{":uid", transactionUid}});
    return true;
}

} // namespace OutboxStore
