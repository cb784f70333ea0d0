#pragma once

#include "dicom/ProcedureStep.h"
#include "dicom/WorklistOrder.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>

#include <array>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

class Database;
class DatabaseThread;
class IniFile;
class LanguageTexts;
class PatientLookup;
class PatientNumbering;
class PhraseLibrary;
class PictureSlots;
class QAbstractButton;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QWidget;
class RecordSet;

namespace Statements {
struct ExamRecord;
}

// The sheet's own controls beside the patient fields (which PatientLookup holds) and the
// picture slots. The window creates them and keeps owning them.
struct SheetControls {
    QComboBox *cbTitle = nullptr; // editable
    QComboBox *cbProposer = nullptr; // editable
    QLineEdit *edtDoctor = nullptr;
    QPlainTextEdit *mmSymp5 = nullptr;
    std::array<QComboBox *, 4> diagnosisLines{}; // TntComboBox1 .. TntComboBox4
    std::array<QComboBox *, 4> treatmentLines{}; // TntComboBox21 .. TntComboBox24
    QCheckBox *ckbHaveTreat = nullptr;
    QAbstractButton *btnGenReport = nullptr; // optional: its click runs btnGenReportClick
};

// Saving the examination sheet as a record (with its patient when new) and bringing a
// patient's latest record back onto it; also keeps the report header between runs.
// Window thread only; on a server the save's statements run on a database thread of its own.
class ExaminationSheet : public QObject {
    Q_OBJECT

public:
    // Shows the language file's message of a key in its modal box.
    using MessageShower = std::function<void(const QString &key)>;
    static MessageShower messagesOf(const LanguageTexts &texts);

    // imagesFolder ends in "/". Connects btnGenReport when given.
    ExaminationSheet(const SheetControls &controls, IniFile &settings, Database &db, RecordSet &ADOQuery1,
                     PictureSlots &pictureSlots, PhraseLibrary &phrases, PatientLookup &lookup,
                     PatientNumbering &numbering, MessageShower showMessage, const QString &imagesFolder,
                     QObject *parent = nullptr);
    ~ExaminationSheet() override;

    // What the window does while a save runs on the database thread.
    struct SaveHooks {
        std::vector<QWidget *> held; // take no input meanwhile, beside the sheet's own controls
        std::function<void(bool saving)> busy; // the busy sign
        std::function<void(bool away)> serverAway; // the thread's connection found the server away
    };
    // With a server engine, the save's statements (and drawing a new patient's number) run on
    // a database thread with its own connection. Until its answer the sheet's controls and
    // `held` take no input, the generate-report button is disabled and `busy` says so;
    // btnGenReportClick returns false at once, and the answer shows the same messages and
    // leaves the sheet as the save on this thread does.
    void setSavesOnThread(SaveHooks hooks);
    bool saving() const { return m_saving; }
    // A job on the sheet's database thread (with the saves on a thread and a server), else here
    // on the window's connection; for the deletions.
    void runOnDatabase(std::function<void(Database &db)> job, std::function<void(std::exception_ptr)> done);

    // Checks the sheet, remembers its phrases, writes the slot pictures and stores the patient
    // (when new) and one record in one transaction. Returns true when the record was stored.
    // Failures before the transaction (drawing a number, writing a picture) throw AppError.
    // With the saves on a thread, returns false and the rest follows on its answer.
    bool btnGenReportClick();

    bool CheckPatientEntered();
    bool CheckDiagnosisEntered();
    bool CheckHeaderEntered();
    bool CheckTreatmentEntered();

    // The patient's record with the highest ID onto the sheet; an empty sheet when none. With
    // the saves on a thread it is read there (pictures missing from images/ fetched with it)
    // and put on the sheet at its answer, when no newer load came since; input to the sheet's
    // texts waits for it.
    void LoadLastExamination(const QString &number);
    // The record set's current row onto the sheet; nothing for an empty result.
    void FillSheetFromRecord(const RecordSet &record);
    // ADOQuery1 opened on the patient's records and left on the last one; false when none.
    bool OpenExaminationRecords(const QString &number);
    // The same, then `then` with the outcome; with the saves on a thread the records are read
    // there, and the pictures they name that images/ lacks are fetched with them.
    void openExaminationRecords(const QString &number, std::function<void(bool found)> then);

    // Start-up and closing: the header fields and the remembered choices of title and
    // requesting doctor, in system.ini.
    void LoadReportHeader();
    void SaveReportHeader();
    void LoadHeaderList(QComboBox *selector, const QString &section);
    void SaveHeaderList(QComboBox *selector, const QString &section);

    // Real height of the full camera picture of the record reloaded last (0 before any).
    double rh() const { return m_rh; }
    // height x ratio of section measure, as stored with each record.
    double calibratedHeight();

    static QStringList ReadHeaderList(IniFile &settings, const QString &section);

    // DICOM sending: when set, every save queues the record's instances for the PACS in its
    // own transaction and calls `queued` once committed (to wake the outbox's worker).
    void setOutbox(std::function<void()> queued) { m_outboxQueued = std::move(queued); }
    // The worklist's order for this patient number, stored with the next record saved for that
    // number (its study, procedure and step then travel in every instance). Snapshots of an
    // examination under way stay on the sheet for this patient: its step (setProcedureSteps) is
    // discontinued and this patient's begins at once.
    void setWorklistOrder(const QString &number, const WorklistOrder &order);
    // Procedure steps (MPPS), performed by this station's AE title, with the outbox on: the first
    // snapshot of an examination queues its step IN PROGRESS (with the worklist's step when the
    // sheet's patient was taken from the worklist, unscheduled otherwise; a new patient's number
    // is drawn then, so the step names the patient), the save COMPLETED (a worklist patient saved
    // without a snapshot: both with the save). A sheet cleared or another patient loaded or
    // taken before the save queues it DISCONTINUED.
    void setProcedureSteps(const QString &stationAe) { m_stepStation = stationAe; }
    // Who is logged in (empty without operator accounts): the observer of the lengths saved.
    void setObserver(std::function<QString()> observer) { m_observer = std::move(observer); }
    // The window closes: an examination with unsaved snapshots is abandoned (DISCONTINUED).
    void closing() { abandonStep(ProcedureStep::Abandoned::SheetCleared); }
    // A recording of the patient numbered `patientNumber` ended in `file` (an MP4): with the
    // outbox on, the clip goes into the study of the patient's record saved here when the sheet
    // still shows it (recorded after the save), else into the patient's next saved record (a
    // clip without a number: the sheet's next save, which draws the new patient's number). A
    // clip longer than DicomOutbox::kLongestClipSeconds is refused with Msg_Clip_Too_Long.
    void clipRecorded(const QString &file, const QString &patientNumber);

private:
    struct SaveRequest;
    struct SaveOutcome;
    class InputHold;
    static SaveOutcome storeExamination(Database &db, bool away, const SaveRequest &request);
    // Steps 2 to 5 of the save, after the number is drawn.
    void checkAndStore();
    // Steps 6 and 7: the outcome told and the sheet reloaded.
    void finishSave(const SaveOutcome &outcome);
    void holdSheet(bool on);
    struct LoadedRecord;
    // The latest record onto the sheet (on the database thread when there is one), then done.
    void loadLast(const QString &number, std::function<void(std::exception_ptr failure)> done);
    // With what was read on the database thread: the pictures were fetched already (what failed
    // there fails its slot) and the lengths read.
    void fillSheet(const RecordSet &record, const LoadedRecord *loaded);
    DatabaseThread *databaseThread();
    // Runs job(db, away) on the database thread when there is one (`away`: the window's
    // connection finds the server away), else here on m_db, and then(result) on this thread.
    template<typename Result, typename Job, typename Then> void onDatabase(Job job, Then then);
    // Writes the number field with its change reaction detached.
    void writeNumber(const QString &number);
    // The names of the picture files written.
    QStringList writeSlotPictures();
    Statements::ExamRecord recordFromSheet(const QString &number);
    // The procedure step of the examination under way: begun at its first snapshot, abandoned
    // when the sheet is emptied or taken by another patient before the save.
    void beginStep();
    void abandonStep(ProcedureStep::Abandoned why);
    // The study values a step begun now for this number names.
    StudyValues stepStudy(const QString &number) const;

    // What the reload put into each slot: a picture still unchanged since then is already
    // its file's content.
    struct ReloadedPicture {
        QString fileName;
        qint64 cacheKey = 0;
    };

    SheetControls m_c;
    IniFile &m_settings;
    Database &m_db;
    RecordSet &m_ADOQuery1;
    PictureSlots &m_slots;
    PhraseLibrary &m_phrases;
    PatientLookup &m_lookup;
    PatientNumbering &m_numbering;
    MessageShower m_showMessage;
    QString m_imagesFolder;
    double m_rh = 0.0;
    std::array<ReloadedPicture, 4> m_reloaded{};
    // The number drawn for a new patient and not yet stored: finding it taken at saving time
    // means another workstation stored it meanwhile.
    QString m_drawnNumber;
    std::function<void()> m_outboxQueued;
    std::function<QString()> m_observer;
    QString m_orderFor; // the patient number the worklist order belongs to
    WorklistOrder m_order;
    QString m_stepStation; // empty: no procedure steps
    QString m_stepUid; // the step in progress of the examination on the sheet; empty when none
    QString m_stepStudyUid; // its study, which the saved record's instances take
    struct SavedRecord {
        QString number;
        qint64 id = 0;
    };
    SavedRecord m_lastSaved; // the last record this sheet saved
    QDateTime m_clipsSince = QDateTime::currentDateTime(); // clips without a number since then go with the next save
    bool m_savesOnThread = false;
    SaveHooks m_saveHooks;
    std::unique_ptr<DatabaseThread> m_thread; // made at the first save on a server
    bool m_saving = false; // a save waits for the database thread's answer
    bool m_saveStored = false; // the outcome of the save this thread finished last
    std::unique_ptr<InputHold> m_inputHold; // while a save waits
    std::unique_ptr<InputHold> m_loadHold; // while a load waits
    quint64 m_loadSerial = 0; // the newest load
};
