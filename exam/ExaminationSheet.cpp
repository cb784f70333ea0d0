#include "exam/ExaminationSheet.h"

#include "capture/ClipStream.h"
#include "core/AppError.h"
#include "core/Audit.h"
#include "core/ControlText.h"
#include "core/ErrorDisplay.h"
#include "core/IniFile.h"
#include "core/TrimmedText.h"
#include "dicom/StudyInstance.h"
#include "exam/DicomOutbox.h"
#include "exam/Logging.h"
#include "exam/PhraseLibrary.h"
#include "exam/PictureSlots.h"
#include "records/Database.h"
#include "records/DatabaseThread.h"
#include "records/MeasurementStore.h"
#include "records/PatientLookup.h"
#include "records/PatientNumbering.h"
#include "records/PictureStore.h"
#include "records/RecordSet.h"
#include "records/Statements.h"
#include "ui/LanguageTexts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSet>

#include <algorithm>
#include <exception>
#include <future>
#include <limits>
#include <optional>
#include <vector>

namespace {

const QString kReportSection = QStringLiteral("report");
const QString kMeasureSection = QStringLiteral("measure");
constexpr int kDefaultHeight = 480;
constexpr double kDefaultRatio = 0.1;

bool anyLineEntered(const std::array<QComboBox *, 4> &lines)
{
    for (const QComboBox *line : lines) {
        if (!Text::trimmed(ControlText::comboText(line)).isEmpty())
            return true;
    }
    return false;
}

// The key of a "key=value" line, as the settings store compares keys.
QString keyOf(const QString &line)
{
    const qsizetype equals = line.indexOf(u'=');
    return equals < 0 ? QString() : Text::trimmed(line.left(equals)).toLower();
}

// What a database job's failure says, or a null text when it ended.
QString failureText(const std::exception_ptr &failure)
{
    if (!failure)
        return {};
    try {
        std::rethrow_exception(failure);
    } catch (const AppError &error) {
        return error.message();
    } catch (const std::exception &error) {
        return QString::fromUtf8(error.what());
    }
}

} // namespace

ExaminationSheet::MessageShower ExaminationSheet::messagesOf(const LanguageTexts &texts)
{
    return [&texts](const QString &key) { texts.showMessage(key); };
}

ExaminationSheet::ExaminationSheet(const SheetControls &controls, IniFile &settings, Database &db, RecordSet &ADOQuery1,
                                   PictureSlots &pictureSlots, PhraseLibrary &phrases, PatientLookup &lookup,
                                   PatientNumbering &numbering, MessageShower showMessage, const QString &imagesFolder,
                                   QObject *parent)
    : QObject(parent)
    , m_c(controls)
    , m_settings(settings)
    , m_db(db)
    , m_ADOQuery1(ADOQuery1)
    , m_slots(pictureSlots)
    , m_phrases(phrases)
    , m_lookup(lookup)
    , m_numbering(numbering)
    , m_showMessage(std::move(showMessage))
    , m_imagesFolder(imagesFolder.endsWith(u'/') ? imagesFolder : imagesFolder + u'/')
{
    // A line edit keeps 32,767 characters unless told otherwise and cuts the rest without a
    // word; a header value read at start-up and written back at close must come back whole.
    for (QLineEdit *edit : {m_c.edtDoctor, m_c.cbTitle ? m_c.cbTitle->lineEdit() : nullptr,
                            m_c.cbProposer ? m_c.cbProposer->lineEdit() : nullptr}) {
        if (edit)
            edit->setMaxLength(std::numeric_limits<int>::max());
    }
    // A number typed by the operator begins another examination: later clips wait for its save.
    if (QLineEdit *number = m_lookup.controls().edtNumber)
        connect(number, &QLineEdit::textEdited, this, [this] { m_lastSaved = {}; });
    // The procedure step: an examination begins with its first snapshot, and ends unsaved when
    // the sheet is emptied.
    connect(&m_slots, &PictureSlots::snapshotTaken, this, [this] {
        m_lookup.dropAnswersUnderWay();
        beginStep();
    });
    connect(&m_lookup, &PatientLookup::sheetCleared, this,
            [this] { abandonStep(ProcedureStep::Abandoned::SheetCleared); });
    if (m_c.btnGenReport) {
        ErrorDisplay::connectGuarded(m_c.btnGenReport, &QAbstractButton::clicked, this,
                                     [this] { btnGenReportClick(); });
    }
}

// ---- saving --------------------------------------------------------------------------------

void ExaminationSheet::writeNumber(const QString &number)
{
    QLineEdit *edtNumber = m_lookup.controls().edtNumber;
    // Drawn with the number's change reaction detached, so writing it runs no look-up; the
    // reaction comes back also when drawing fails.
    NumberHandlerDetached detached(m_lookup);
    m_lookup.dropAnswersUnderWay();
    edtNumber->setText(number);
}

bool ExaminationSheet::CheckPatientEntered()
{
    const PatientControls &p = m_lookup.controls();
    if (!Text::trimmed(p.edtNumber->text()).isEmpty() && !Text::trimmed(p.edtName->text()).isEmpty())
        return true;
    m_showMessage(QStringLiteral("Msg_input_client_info"));
    return false;
}

bool ExaminationSheet::CheckDiagnosisEntered()
{
    if (anyLineEntered(m_c.diagnosisLines))
        return true;
    m_showMessage(QStringLiteral("Msg_input_Symptom"));
    return false;
}

bool ExaminationSheet::CheckHeaderEntered()
{
    // Both are checked, so the operator learns of both missing fields at once.
    bool entered = true;
    if (Text::trimmed(ControlText::comboText(m_c.cbTitle)).isEmpty()) {
        m_showMessage(QStringLiteral("Msg_input_ReportTitle"));
        entered = false;
    }
    if (Text::trimmed(m_c.edtDoctor->text()).isEmpty()) {
        m_showMessage(QStringLiteral("Msg_input_doctor"));
        entered = false;
    }
    return entered;
}

bool ExaminationSheet::CheckTreatmentEntered()
{
    if (anyLineEntered(m_c.treatmentLines))
        return true;
    m_showMessage(QStringLiteral("Msg_input_treat"));
    return false;
}

double ExaminationSheet::calibratedHeight()
{
    const int height = m_settings.readInteger(kMeasureSection, QStringLiteral("height"), kDefaultHeight);
    const double ratio = m_settings.readFloat(kMeasureSection, QStringLiteral("ratio"), kDefaultRatio);
    return double(height) * ratio;
}

Statements::ExamRecord ExaminationSheet::recordFromSheet(const QString &number)
{
    Statements::ExamRecord record;
    record.client_id = number;
    record.printtime = QDateTime::currentDateTime();
    record.doctor = Text::trimmed(m_c.edtDoctor->text());
    record.proposer = Text::trimmed(ControlText::comboText(m_c.cbProposer));
    record.title = Text::trimmed(ControlText::comboText(m_c.cbTitle));
    for (int i = 0; i < 4; ++i) {
        record.pic[i] = Text::trimmed(m_slots.fileName(i + 1));
        // The lines are stored as shown: a leading blank may be part of the layout.
        record.symptom[i] = ControlText::comboText(m_c.diagnosisLines[i]);
        record.treat[i] = ControlText::comboText(m_c.treatmentLines[i]);
        record.picY[i] = m_slots.captureSize(i + 1).height();
    }
    record.symptom5 = Text::trimmed(m_c.mmSymp5->toPlainText());
    record.has_treat = m_c.ckbHaveTreat->isChecked();
    record.rh = calibratedHeight();
    return record;
}

QStringList ExaminationSheet::writeSlotPictures()
{
    // Slots to write, by file name: of two slots naming one file the later one's picture is
    // what writing them in slot order leaves, so only that one is written.
    std::vector<int> toWrite;
    for (int slot = 1; slot <= PictureSlots::kSlotCount; ++slot) {
        const QImage picture = m_slots.picture(slot);
        const QString name = Text::trimmed(m_slots.fileName(slot));
        if (picture.isNull() || name.isEmpty())
            continue;
        // A picture shown unchanged since it was decoded from its file is not encoded again:
        // every re-encoding would lose a little more of the picture that earlier records
        // name, for nothing.
        const ReloadedPicture &reloaded = m_reloaded[slot - 1];
        if (reloaded.cacheKey == picture.cacheKey() && reloaded.fileName == name
            && QFileInfo(m_imagesFolder + name).isFile())
            continue;
        std::erase_if(toWrite, [&](int earlier) { return Text::trimmed(m_slots.fileName(earlier)) == name; });
        toWrite.push_back(slot);
    }
    QStringList written;
    for (int slot : toWrite)
        written.append(Text::trimmed(m_slots.fileName(slot)));
    if (toWrite.empty())
        return written;

    // Each file is encoded, written and synced, with the folder entry naming it, on a worker of
    // its own while this thread waits: the syncs then share the file system's journal commits
    // instead of queueing behind each other. The workers only read the slots, which nothing
    // changes meanwhile.
    std::vector<std::future<void>> writes;
    writes.reserve(toWrite.size());
    for (int slot : toWrite) {
        writes.push_back(std::async(std::launch::async, [this, slot] {
            // The file and the folder entry naming it are on disk before the record is committed.
            m_slots.SaveSlotPicture(m_imagesFolder, slot);
        }));
    }
    // Every worker is waited for before a failure (the first in slot order) leaves.
    std::exception_ptr failure;
    for (std::future<void> &write : writes) {
        try {
            write.get();
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
        }
    }
    if (failure)
        std::rethrow_exception(failure);
    return written;
}

void ExaminationSheet::clipRecorded(const QString &file, const QString &patientNumber)
{
    const QString number = Text::trimmed(patientNumber);
    if (!m_outboxQueued)
        return; // no PACS: the clip stays in the video folder only
    // Refused rather than cut: the clip stays whole in the video folder.
    if (mp4Seconds(file) > DicomOutbox::kLongestClipSeconds) {
        m_showMessage(QStringLiteral("Msg_Clip_Too_Long"));
        return;
    }
    // Recorded after the save, while the sheet still shows that patient: the saved record's.
    // Recorded without a number: a new patient's, whose number the save draws.
    const bool afterSave = !number.isEmpty() && m_lastSaved.id > 0 && m_lastSaved.number == number
        && Text::trimmed(m_lookup.controls().edtNumber->text()) == number;
    runOnDatabase([file, number, savedId = afterSave ? m_lastSaved.id : 0, at = QDateTime::currentDateTime()](
                      Database &db) { DicomOutbox::queueClip(db, file, number, savedId, at); },
                  [this, file, afterSave](std::exception_ptr failure) {
                      if (const QString why = failureText(failure); !why.isNull()) {
                          qCWarning(lcExam).noquote() << "the clip" << file << "was not queued for the PACS:" << why;
                          return;
                      }
                      if (afterSave)
                          m_outboxQueued();
                  });
}

// What the save's transaction stores, taken from the sheet before it starts.
struct ExaminationSheet::SaveRequest {
    QString number;
    QString drawnNumber;
    Statements::Patient patient; // stored when the number is new
    QStringList pictures; // written to images/, stored on a server
    QString imagesFolder;
    Statements::ExamRecord record; // its number is the one stored
    Measurements lengths;
    bool outbox = false;
    QString orderFor;
    WorklistOrder order;
    QString stepUid; // completed by the save
    QString stepStudyUid;
    std::optional<StudyValues> newStep; // begun by the save, as stepUid
    QString stepStation;
    QDateTime clipsSince;
};

struct ExaminationSheet::SaveOutcome {
    bool stored = false;
    QString number; // the number stored, or tried last
    bool renumbered = false;
    bool created = false;
    qint64 savedId = 0;
    QString failure; // the database's reason, for the log
};

// While a save runs on the database thread: the operator's input to the sheet is dropped, so
// nothing the save took from it changes before the answer puts the stored record back.
// Deferring instead (while a record is loaded on the database thread): the input waits and is
// delivered once the record is on the sheet, in the order it came, as it would have queued
// behind a load on this thread.
class ExaminationSheet::InputHold : public QObject {
public:
    enum class Mode { Drop, Defer };
    InputHold(const std::vector<QWidget *> &held, Mode mode)
        : m_mode(mode)
    {
        for (QWidget *widget : held) {
            if (widget)
                m_held.append(widget);
        }
        qApp->installEventFilter(this);
    }
    ~InputHold() override
    {
        qApp->removeEventFilter(this);
        for (auto &[receiver, event] : m_deferred) {
            if (receiver)
                QCoreApplication::postEvent(receiver, event.release());
        }
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::Drop:
        case QEvent::InputMethod:
            break;
        default:
            return false;
        }
        auto *widget = qobject_cast<QWidget *>(watched);
        if (!widget || std::none_of(m_held.cbegin(), m_held.cend(), [&](const QPointer<QWidget> &held) {
                return held && (held == widget || held->isAncestorOf(widget));
            }))
            return false;
        if (m_mode == Mode::Defer)
            m_deferred.emplace_back(widget, std::unique_ptr<QEvent>(event->clone()));
        return true;
    }

private:
    const Mode m_mode;
    QList<QPointer<QWidget>> m_held;
    std::vector<std::pair<QPointer<QWidget>, std::unique_ptr<QEvent>>> m_deferred;
};

ExaminationSheet::~ExaminationSheet() = default;

void ExaminationSheet::setSavesOnThread(SaveHooks hooks)
{
    m_savesOnThread = true;
    m_saveHooks = std::move(hooks);
}

DatabaseThread *ExaminationSheet::databaseThread()
{
    if (!m_savesOnThread || !m_db.isOpen() || !m_db.parameters().isServer())
        return nullptr;
    if (!m_thread) {
        m_thread = std::make_unique<DatabaseThread>(m_db.parameters(), QStringLiteral("saves"));
        m_thread->setAwayListener(this, [this](bool away) {
            if (m_saveHooks.serverAway)
                m_saveHooks.serverAway(away);
        });
    }
    return m_thread.get();
}

template<typename Result, typename Job, typename Then> void ExaminationSheet::onDatabase(Job job, Then then)
{
    DatabaseThread *thread = databaseThread();
    if (!thread) {
        then(job(m_db, m_db.isAway()));
        return;
    }
    auto result = std::make_shared<std::optional<Result>>();
    thread->post([job = std::move(job), result, away = m_db.isAway()](Database &db) { result->emplace(job(db, away)); },
                 this,
                 [this, result, then = std::move(then)](std::exception_ptr failure) {
                     // The answer runs under the error display, as the click did.
                     ErrorDisplay::guarded([&] {
                         try {
                             if (failure)
                                 std::rethrow_exception(failure);
                             then(**result);
                         } catch (...) {
                             holdSheet(false);
                             throw;
                         }
                     });
                 });
}

void ExaminationSheet::runOnDatabase(std::function<void(Database &)> job, std::function<void(std::exception_ptr)> done)
{
    DatabaseThread *thread = databaseThread();
    if (!thread) {
        DatabaseThread::runHere(m_db, job, done);
        return;
    }
    thread->post(
        [job = std::move(job), away = m_db.isAway()](Database &db) {
            if (away)
                throw AppError(QString::fromLatin1(Database::kAwayMessage));
            if (db.isAway())
                db.markBack();
            job(db);
        },
        this, [done = std::move(done)](std::exception_ptr failure) { ErrorDisplay::guarded([&] { done(failure); }); });
}

void ExaminationSheet::holdSheet(bool on)
{
    if (on == m_saving || (on && !databaseThread()))
        return;
    m_saving = on;
    if (m_c.btnGenReport)
        m_c.btnGenReport->setEnabled(!on);
    if (on) {
        const PatientControls &p = m_lookup.controls();
        std::vector<QWidget *> held = m_saveHooks.held;
        held.insert(held.end(),
                    std::initializer_list<QWidget *>{p.edtNumber, p.edtName, p.cbSex, p.edtAge, p.edtTel, p.edtAddr,
                                                     p.lstNumber, p.plGrid, p.btnNew, p.btnDelCient, m_c.cbTitle,
                                                     m_c.cbProposer, m_c.edtDoctor, m_c.mmSymp5, m_c.ckbHaveTreat});
        held.insert(held.end(), m_c.diagnosisLines.begin(), m_c.diagnosisLines.end());
        held.insert(held.end(), m_c.treatmentLines.begin(), m_c.treatmentLines.end());
        m_inputHold = std::make_unique<InputHold>(held, InputHold::Mode::Drop);
    } else {
        m_inputHold.reset();
    }
    if (m_saveHooks.busy)
        m_saveHooks.busy(on);
}

bool ExaminationSheet::btnGenReportClick()
{
    // One save at a time; the button is disabled meanwhile.
    if (m_saving)
        return false;
    m_saveStored = false;
    holdSheet(true);
    // 1. Before any check, so the drawn number stays even when a check fails.
    if (Text::trimmed(m_lookup.controls().edtNumber->text()).isEmpty()) {
        onDatabase<QString>(
            [](Database &db, bool away) {
                if (away)
                    throw AppError(QString::fromLatin1(Database::kAwayMessage));
                return PatientNumbering::nextPatientNumber(db);
            },
            [this](const QString &number) {
                writeNumber(number);
                m_drawnNumber = number;
                checkAndStore();
            });
    } else {
        checkAndStore();
    }
    return m_saveStored;
}

void ExaminationSheet::checkAndStore()
{
    // 2. The first failing check ends the save with nothing written.
    if (!CheckPatientEntered() || !CheckDiagnosisEntered() || !CheckHeaderEntered()
        || (m_c.ckbHaveTreat->isChecked() && !CheckTreatmentEntered())) {
        holdSheet(false);
        return;
    }

    // 3. New phrases; the lines keep the texts they show.
    m_phrases.RememberPhrases(PhraseLibrary::Group::Diagnosis);
    m_phrases.RememberPhrases(PhraseLibrary::Group::Treatment);
    m_phrases.LoadPhraseChoices(PhraseLibrary::Group::Diagnosis);
    m_phrases.LoadPhraseChoices(PhraseLibrary::Group::Treatment);

    // 4. The slot pictures, each replacing its file whole.
    const QStringList writtenPictures = writeSlotPictures();

    // 5. Patient (when new), pictures (on a server) and record together, or none of them.
    const PatientControls &p = m_lookup.controls();
    const QString number = Text::trimmed(p.edtNumber->text());
    // A worklist patient saved without a snapshot (a report of reloaded pictures) still performed
    // the scheduled step: it begins and ends with this save.
    std::optional<StudyValues> newStep;
    if (m_outboxQueued && !m_stepStation.isEmpty() && m_stepUid.isEmpty() && !number.isEmpty() && number == m_orderFor)
        newStep = stepStudy(number);
    Measurements lengths = m_slots.allMeasurements();
    // A length saved before (a reloaded record saved again) keeps the operator who measured it.
    for (Measurement &length : lengths) {
        if (length.observer.isEmpty() && m_observer)
            length.observer = m_observer();
    }
    SaveRequest request{.number = number,
                        .drawnNumber = m_drawnNumber,
                        .patient = {.client_id = number,
                                    .client_name = Text::trimmed(p.edtName->text()),
                                    .sex = Text::trimmed(ControlText::comboText(p.cbSex)),
                                    .age = Text::trimmed(p.edtAge->text()),
                                    .client_phone = Text::trimmed(p.edtTel->text()),
                                    .address = Text::trimmed(p.edtAddr->text())},
                        .pictures = writtenPictures,
                        .imagesFolder = m_imagesFolder,
                        .record = recordFromSheet(number),
                        .lengths = lengths,
                        .outbox = bool(m_outboxQueued),
                        .orderFor = m_orderFor,
                        .order = m_order,
                        .stepUid = newStep ? StudyInstance::newUid() : m_stepUid,
                        .stepStudyUid = newStep ? newStep->studyUid : m_stepStudyUid,
                        .newStep = newStep,
                        .stepStation = m_stepStation,
                        .clipsSince = m_clipsSince};
    onDatabase<SaveOutcome>(
        [request = std::move(request)](Database &db, bool away) { return storeExamination(db, away, request); },
        [this](const SaveOutcome &outcome) { finishSave(outcome); });
}

ExaminationSheet::SaveOutcome ExaminationSheet::storeExamination(Database &db, bool away, const SaveRequest &request)
{
    SaveOutcome outcome{.number = request.number};
    try {
        if (away)
            throw AppError(QString::fromLatin1(Database::kAwayMessage));
        // The window's connection finds the server answering: this one tries it again too.
        if (db.isAway())
            db.markBack();
        ScopedTransaction transaction(db);
        // From here to the commit no other workstation checks or stores a number.
        Statements::lockPatientNumbers(db);
        if (outcome.number == request.drawnNumber && Statements::patientExists(db, outcome.number)) {
            // Another workstation stored a patient under the number drawn here meanwhile: this
            // new patient takes the next free number instead of joining that one.
            outcome.number = PatientNumbering::nextPatientNumber(db);
            outcome.renumbered = true;
        }
        if (!Statements::patientExists(db, outcome.number)) {
            outcome.created = true;
            // Only a new patient is stored: edits to a known patient's fields are not saved.
            Statements::Patient patient = request.patient;
            patient.client_id = outcome.number;
            Statements::insertPatient(db, patient);
        }
        for (const QString &name : request.pictures)
            PictureStore::store(db, request.imagesFolder, name);
        Statements::ExamRecord record = request.record;
        record.client_id = outcome.number;
        outcome.savedId = Statements::insertExamRecord(db, record);
        MeasurementStore::insert(db, outcome.savedId, request.lengths);
        if (request.outbox) {
            if (request.newStep)
                DicomOutbox::queueStepInProgress(db, request.stepUid, *request.newStep, request.stepStation);
            const bool ordered = outcome.number == request.orderFor;
            DicomOutbox::queueRecord(db, outcome.savedId, ordered ? request.order : WorklistOrder{},
                                     request.stepStudyUid);
            DicomOutbox::queueWaitingClips(db, outcome.savedId, outcome.number, request.clipsSince);
            // After the clips: the completed step names them too.
            if (!request.stepUid.isEmpty())
                DicomOutbox::queueStepCompleted(db, request.stepUid, outcome.savedId);
        }
        transaction.commit();
        outcome.stored = true;
    } catch (const std::exception &failure) {
        // Rolled back by the scope.
        outcome.failure = QString::fromUtf8(failure.what());
    }
    return outcome;
}

void ExaminationSheet::finishSave(const SaveOutcome &outcome)
{
    const QString &number = outcome.number;
    if (!outcome.stored) {
        holdSheet(false);
        // 6. The box has no room for the database's own words, so they go to the log.
        qCWarning(lcExam) << "the examination was not saved:" << outcome.failure;
        Audit::record(Audit::Event::ExaminationSaved, number, Audit::Outcome::SeriousFailure);
        m_showMessage(QStringLiteral("Msg_Submit_Failed"));
        return;
    }
    m_saveStored = true;
    if (outcome.created)
        Audit::record(Audit::Event::PatientCreated, number);
    Audit::record(Audit::Event::ExaminationSaved, number);
    m_drawnNumber.clear();
    if (outcome.renumbered)
        writeNumber(number);
    m_lastSaved = {.number = number, .id = outcome.savedId};
    m_clipsSince = QDateTime::currentDateTime();

    if (m_outboxQueued) {
        m_orderFor.clear();
        m_order = {};
        m_stepUid.clear();
        m_stepStudyUid.clear();
        m_outboxQueued();
    }

    // 7. The sheet shows the record as stored. The record is stored whatever the reload meets
    // (a picture file damaged meanwhile), so the operator is told so before any such failure.
    loadLast(number, [this, renumbered = outcome.renumbered](std::exception_ptr reloadFailure) {
        // The sheet is held until it shows the stored record.
        holdSheet(false);
        m_showMessage(QStringLiteral("Msg_Submit_Success"));
        if (renumbered)
            m_showMessage(QStringLiteral("Msg_Number_Taken"));
        if (reloadFailure)
            std::rethrow_exception(reloadFailure);
    });
}

void ExaminationSheet::setWorklistOrder(const QString &number, const WorklistOrder &order)
{
    // The same item taken again goes on with its step.
    const bool same = Text::trimmed(number) == m_orderFor && !order.studyUid.isEmpty()
        && order.studyUid == m_stepStudyUid && order.scheduledStepId == m_order.scheduledStepId;
    m_orderFor = Text::trimmed(number);
    m_order = order;
    // Without snapshots yet the step begins at the first one.
    if (m_stepUid.isEmpty() || same)
        return;
    abandonStep(ProcedureStep::Abandoned::OtherWorklistPatient);
    beginStep();
}

void ExaminationSheet::beginStep()
{
    if (m_stepStation.isEmpty() || !m_outboxQueued || !m_stepUid.isEmpty())
        return;
    // The step names its patient for good (an N-SET cannot change it): a new patient's number
    // is drawn now rather than at the save, with the sheet held until it is in the field.
    const QString typed = Text::trimmed(m_lookup.controls().edtNumber->text());
    const StudyValues study = stepStudy(typed);
    const QString stepUid = StudyInstance::newUid();
    m_stepUid = stepUid;
    m_stepStudyUid = study.studyUid;
    const bool draw = typed.isEmpty();
    if (draw)
        holdSheet(true);
    auto drawn = std::make_shared<QString>();
    runOnDatabase(
        [study, stepUid, draw, drawn, station = m_stepStation](Database &db) {
            StudyValues values = study;
            if (draw)
                values.patientId = *drawn = PatientNumbering::nextPatientNumber(db);
            DicomOutbox::queueStepInProgress(db, stepUid, values, station);
        },
        [this, stepUid, draw, drawn](std::exception_ptr failure) {
            if (!drawn->isEmpty()) {
                writeNumber(*drawn);
                m_drawnNumber = *drawn;
            }
            if (draw)
                holdSheet(false);
            if (const QString why = failureText(failure); !why.isNull()) {
                qCWarning(lcExam).noquote() << "the procedure step was not queued:" << why;
                if (m_stepUid == stepUid) {
                    m_stepUid.clear();
                    m_stepStudyUid.clear();
                }
                return;
            }
            m_outboxQueued();
        });
}

StudyValues ExaminationSheet::stepStudy(const QString &number) const
{
    const PatientControls &p = m_lookup.controls();
    const WorklistOrder order = number == m_orderFor ? m_order : WorklistOrder{};
    return {.patientId = number,
            .patientName = Text::trimmed(p.edtName->text()),
            .sex = Text::trimmed(ControlText::comboText(p.cbSex)),
            .studyUid = order.studyUid.isEmpty() ? StudyInstance::newUid() : order.studyUid,
            .order = order};
}

void ExaminationSheet::abandonStep(ProcedureStep::Abandoned why)
{
    const QString abandoned = std::exchange(m_stepUid, QString());
    m_stepStudyUid.clear();
    if (abandoned.isEmpty())
        return;
    // Queued behind the step's begin; at closing the database thread still runs it.
    runOnDatabase([abandoned, why](Database &db) { DicomOutbox::queueStepDiscontinued(db, abandoned, why); },
                  [this, abandoned](std::exception_ptr failure) {
                      if (const QString text = failureText(failure); !text.isNull()) {
                          qCWarning(lcExam).noquote()
                              << "the discontinued procedure step" << abandoned << "was not queued:" << text;
                          return;
                      }
                      m_outboxQueued();
                  });
}

// ---- reloading -----------------------------------------------------------------------------

void ExaminationSheet::LoadLastExamination(const QString &number)
{
    // Another patient's examination replaces the one on the sheet, unsaved.
    abandonStep(ProcedureStep::Abandoned::SheetCleared);
    loadLast(number, [](std::exception_ptr failure) {
        if (failure)
            std::rethrow_exception(failure);
    });
}

// The record and the pictures missing from images/, read on the database thread.
struct ExaminationSheet::LoadedRecord {
    RecordSet records; // on the last row
    std::array<QString, PictureSlots::kSlotCount> fetchFailures;
    Measurements measurements;
};

void ExaminationSheet::loadLast(const QString &number, std::function<void(std::exception_ptr)> done)
{
    const QString trimmed = Text::trimmed(number);
    DatabaseThread *thread = databaseThread();
    if (!thread) {
        std::exception_ptr failure;
        try {
            RecordSet records;
            records.open(m_db, trimmed);
            if (records.isEmpty()) {
                m_lookup.ClearSheet();
            } else {
                records.Last();
                FillSheetFromRecord(records);
            }
        } catch (...) {
            failure = std::current_exception();
        }
        done(failure);
        return;
    }
    // Only the newest load is applied; input to the sheet waits for it.
    const quint64 serial = ++m_loadSerial;
    m_loadHold =
        std::make_unique<InputHold>(std::vector<QWidget *>{m_c.mmSymp5, m_c.diagnosisLines[0]->parentWidget(),
                                                           m_c.treatmentLines[0]->parentWidget(), m_c.ckbHaveTreat},
                                    InputHold::Mode::Defer);
    auto loaded = std::make_shared<LoadedRecord>();
    thread->post(
        [loaded, trimmed, folder = m_imagesFolder, away = m_db.isAway()](Database &db) {
            if (away)
                throw AppError(QString::fromLatin1(Database::kAwayMessage));
            if (db.isAway())
                db.markBack();
            loaded->records.open(db, trimmed);
            if (loaded->records.isEmpty())
                return;
            loaded->records.Last();
            for (int slot = 1; slot <= PictureSlots::kSlotCount; ++slot) {
                try {
                    PictureStore::fetchWhenMissing(db, folder,
                                                   loaded->records.asString(QStringLiteral("pic%1").arg(slot)));
                } catch (const AppError &failure) {
                    loaded->fetchFailures[slot - 1] = failure.message();
                }
            }
            loaded->measurements = MeasurementStore::ofRecord(db, loaded->records.asInteger(QStringLiteral("ID")));
        },
        this,
        [this, serial, loaded, done = std::move(done)](std::exception_ptr failure) {
            ErrorDisplay::guarded([&] {
                // A newer load's answer follows: this one changes nothing.
                if (serial != m_loadSerial) {
                    done(nullptr);
                    return;
                }
                try {
                    if (failure)
                        std::rethrow_exception(failure);
                    if (loaded->records.isEmpty())
                        m_lookup.ClearSheet();
                    else
                        fillSheet(loaded->records, loaded.get());
                } catch (...) {
                    failure = std::current_exception();
                }
                // The input that waited goes to the sheet as it now stands.
                m_loadHold.reset();
                done(failure);
            });
        });
}

void ExaminationSheet::FillSheetFromRecord(const RecordSet &record)
{
    fillSheet(record, nullptr);
}

void ExaminationSheet::fillSheet(const RecordSet &record, const LoadedRecord *loaded)
{
    if (record.isEmpty() || record.Bof() || record.Eof())
        return;

    // A picture file that no longer decodes empties its slot like a missing one, so no
    // picture of the sheet shown before stays beside this record; the rest of the record is
    // still shown and the decoder's message follows.
    std::optional<AppError> pictureFailure;
    for (int slot = 1; slot <= PictureSlots::kSlotCount; ++slot) {
        const QString name = record.asString(QStringLiteral("pic%1").arg(slot));
        m_reloaded[slot - 1] = {};
        try {
            // Fetched beforehand on the database thread, or here.
            if (!loaded)
                PictureStore::fetchWhenMissing(m_db, m_imagesFolder, name);
            else if (!loaded->fetchFailures[slot - 1].isEmpty())
                throw AppError(loaded->fetchFailures[slot - 1]);
            m_slots.LoadSlotPicture(m_imagesFolder, name, slot);
            const QImage picture = m_slots.picture(slot);
            if (!picture.isNull())
                m_reloaded[slot - 1] = {m_slots.fileName(slot), picture.cacheKey()};
        } catch (const AppError &failure) {
            m_slots.ClearSlotPicture(slot);
            if (!pictureFailure)
                pictureFailure = failure;
        }
    }

    m_c.mmSymp5->setPlainText(record.asString(QStringLiteral("symptom5")));
    // A change of state runs the box's reaction, which enables or empties the treatment lines.
    m_c.ckbHaveTreat->setChecked(record.asBoolean(QStringLiteral("has_treat")));
    for (int i = 0; i < 4; ++i) {
        ControlText::setComboText(m_c.diagnosisLines[i], record.asString(QStringLiteral("symptom%1").arg(i + 1)));
        ControlText::setComboText(m_c.treatmentLines[i], record.asString(QStringLiteral("treat%1").arg(i + 1)));
    }
    m_rh = record.asFloat(QStringLiteral("rh"));
    const Measurements measurements =
        loaded ? loaded->measurements : MeasurementStore::ofRecord(m_db, record.asInteger(QStringLiteral("ID")));
    for (int slot = 1; slot <= PictureSlots::kSlotCount; ++slot) {
        Measurements ofSlot;
        for (const Measurement &measurement : measurements) {
            if (measurement.slot == slot)
                ofSlot.append(measurement);
        }
        // An emptied slot (its file gone) keeps no lengths of a picture it no longer shows.
        if (!m_slots.picture(slot).isNull())
            m_slots.setMeasurements(slot, ofSlot);
    }
    for (int slot = 1; slot <= PictureSlots::kSlotCount; ++slot) {
        const qint64 height = record.asInteger(QStringLiteral("picY%1").arg(slot));
        m_slots.setCaptureSize(slot, QSize(0, int(height)));
    }

    if (pictureFailure)
        throw *pictureFailure;
}

bool ExaminationSheet::OpenExaminationRecords(const QString &number)
{
    m_ADOQuery1.close();
    m_ADOQuery1.open(m_db, Text::trimmed(number));
    if (m_ADOQuery1.isEmpty())
        return false;
    m_ADOQuery1.Last();
    return true;
}

void ExaminationSheet::openExaminationRecords(const QString &number, std::function<void(bool)> then)
{
    DatabaseThread *thread = databaseThread();
    if (!thread) {
        then(OpenExaminationRecords(number));
        return;
    }
    auto records = std::make_shared<RecordSet>();
    thread->post(
        [records, trimmed = Text::trimmed(number), folder = m_imagesFolder, away = m_db.isAway()](Database &db) {
            if (away)
                throw AppError(QString::fromLatin1(Database::kAwayMessage));
            if (db.isAway())
                db.markBack();
            records->open(db, trimmed);
            for (records->First(); !records->isEmpty() && !records->Eof(); records->Next()) {
                for (int slot = 1; slot <= PictureSlots::kSlotCount; ++slot) {
                    const QString name = records->asString(QStringLiteral("pic%1").arg(slot));
                    try {
                        PictureStore::fetchWhenMissing(db, folder, name);
                    } catch (const AppError &failure) {
                        // The report leaves its area empty, as for a missing file.
                        qCWarning(lcExam) << "report picture" << name << "not fetched:" << failure.message();
                    }
                }
            }
        },
        this,
        [this, records, then = std::move(then)](std::exception_ptr failure) {
            ErrorDisplay::guarded([&] {
                if (failure)
                    std::rethrow_exception(failure);
                m_ADOQuery1.close();
                m_ADOQuery1 = *records;
                if (!m_ADOQuery1.isEmpty())
                    m_ADOQuery1.Last();
                then(!m_ADOQuery1.isEmpty());
            });
        });
}

// ---- report header -------------------------------------------------------------------------

void ExaminationSheet::LoadReportHeader()
{
    ControlText::setComboText(m_c.cbTitle, m_settings.readString(kReportSection, QStringLiteral("title"), QString()));
    m_c.edtDoctor->setText(m_settings.readString(kReportSection, QStringLiteral("doctor"), QString()));
    ControlText::setComboText(m_c.cbProposer,
                              m_settings.readString(kReportSection, QStringLiteral("proposer"), QString()));
}

void ExaminationSheet::SaveReportHeader()
{
    const std::pair<QString, QString> values[] = {
        {QStringLiteral("title"), Text::trimmed(ControlText::comboText(m_c.cbTitle))},
        {QStringLiteral("doctor"), Text::trimmed(m_c.edtDoctor->text())},
        {QStringLiteral("proposer"), Text::trimmed(ControlText::comboText(m_c.cbProposer))},
    };
    // The three keys in one write of the file; other keys of the section stay as they are.
    QStringList lines = m_settings.readSection(kReportSection);
    for (const auto &[key, value] : values) {
        const QString line = key + u'=' + value;
        bool replaced = false;
        for (QString &existing : lines) {
            if (keyOf(existing) == key) {
                existing = line;
                replaced = true;
                break;
            }
        }
        if (!replaced)
            lines.append(line);
    }
    m_settings.replaceSection(kReportSection, lines);
}

QStringList ExaminationSheet::ReadHeaderList(IniFile &settings, const QString &section)
{
    // The same reading and ordering as the phrase lists.
    return PhraseLibrary::ReadPhraseList(settings, section);
}

void ExaminationSheet::LoadHeaderList(QComboBox *selector, const QString &section)
{
    const QStringList values = ReadHeaderList(m_settings, section);
    const QString shown = selector->currentText();
    const QSignalBlocker quiet(selector);
    selector->clear();
    selector->addItem(QString());
    selector->addItems(values);
    selector->setCurrentIndex(-1);
    ControlText::setComboText(selector, shown);
}

void ExaminationSheet::SaveHeaderList(QComboBox *selector, const QString &section)
{
    const QStringList values = ReadHeaderList(m_settings, section);
    const QString text = Text::trimmed(selector->currentText());
    if (text.isEmpty() || PhraseLibrary::indexOfPhrase(values, text) >= 0)
        return;
    // The next key after the values; in a section edited by hand that key may be taken, and
    // writing it would replace a remembered entry, so the first free one above is used.
    QSet<QString> used;
    for (const QString &line : m_settings.readSection(section))
        used.insert(keyOf(line));
    qsizetype key = values.size() + 1;
    while (used.contains(QString::number(key)))
        ++key;
    m_settings.writeString(section, QString::number(key), text);
}
