#pragma once

#include "core/ErrorDisplay.h"
#include "core/IniFile.h"
#include "records/Database.h"
#include "records/RecordSet.h"

#include <QString>
#include <QWidget>

#include <array>
#include <memory>

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListView;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSlider;
class QTableView;
class QToolButton;

class AuditTrail;
class WindowSecurity;
class Calibration;
class CaptureGraph;
class ExaminationSheet;
class FocusRelease;
class ImageControl;
class LanguageTexts;
class OutboxWorker;
class WorklistChoice;
class LogoLink;
class PatientLookup;
class PatientNumbering;
class PhraseLibrary;
class PictureSlots;
class ReportFilling;
class ProcessPanel;
class Snapshot;
class LivePictureView;
class LogoImage;
class RotatedLabel;
class TfrmProcess;

// The main window and composition root of the workstation: it builds every control, owns the
// subsystem objects and connects the controls' events to their reactions. Window thread only.
class TfrmMain : public QWidget {
    Q_OBJECT

public:
    explicit TfrmMain(QWidget *parent = nullptr);
    ~TfrmMain() override;

    // The folders built from the program's folder at start-up, each ending in "/".
    QString imagesFolder() const { return m_imagesFolder; }
    QString videoFolder() const { return m_videoFolder; }
    QString scratchFolder() const { return m_scratchFolder; }

    IniFile &settings() { return m_iniFile; }
    PictureSlots &pictureSlots() { return *m_slots; }
    Database &database() { return ADOConn; }
    CaptureGraph &capture() { return *m_capture; }
    ReportFilling &reportFilling() { return *m_report; }
    ExaminationSheet &sheet() { return *m_sheet; }
    AuditTrail *auditTrail() { return m_audit.get(); }
    // With [security] login=1 only.
    WindowSecurity *security() { return m_security; }
    LanguageTexts &language() { return *m_language; }

    // Start-up, show, close and release sequences.
    void TntFormCreate();
    void TntFormShow();
    void TntFormClose();
    void TntFormDestroy();

    // The actions actPreview and actStop.
    void actPreviewExecute();
    void actStopExecute();

    static void EnsureBlankOverlay(ImageControl *control);
    void LayoutPictureSlots();

    // Left pane: the examination sheet.
    QFrame *TntPanel1 = nullptr;
    QGroupBox *TntGroupBox1 = nullptr;
    QLabel *lbInputInfo = nullptr;
    QLabel *lbNumber = nullptr;
    QLineEdit *edtNumber = nullptr;
    QPushButton *btnNew = nullptr;
    QPushButton *btnDelCient = nullptr;
    QLabel *lbName = nullptr;
    QLineEdit *edtName = nullptr;
    QLabel *lbSex = nullptr;
    QComboBox *cbSex = nullptr;
    QLabel *lbAge = nullptr;
    QLineEdit *edtAge = nullptr;
    QLabel *lbTel = nullptr;
    QLineEdit *edtTel = nullptr;
    QLabel *lbAddr = nullptr;
    QLineEdit *edtAddr = nullptr;
    QListView *lstNumber = nullptr;

    QGroupBox *TntGroupBox2 = nullptr;
    QLabel *lbPic = nullptr;
    RotatedLabel *lbPic_an = nullptr;
    QFrame *plImageContener[4] = {};
    QFrame *plMask[4] = {};
    ImageControl *imgPic[4] = {};
    QPlainTextEdit *mmSymp5 = nullptr;
    QLabel *lbSypmtom = nullptr;
    RotatedLabel *lbSypmtom_an = nullptr;
    std::array<QComboBox *, 4> symptomLines{}; // TntComboBox1 .. TntComboBox4
    QToolButton *symptomButtons[4] = {}; // TntSpeedButton1 .. TntSpeedButton4

    QGroupBox *TntGroupBox3 = nullptr;
    QLabel *lbTreat = nullptr;
    RotatedLabel *lbTreat_an = nullptr;
    QCheckBox *ckbHaveTreat = nullptr;
    std::array<QComboBox *, 4> treatLines{}; // TntComboBox21 .. TntComboBox24
    QToolButton *treatButtons[4] = {}; // TntSpeedButton21 .. TntSpeedButton24

    QPushButton *btnGenReport = nullptr;
    QPushButton *btnPrevReport = nullptr;
    QPushButton *btnPrint = nullptr;
    QPushButton *btnGetPhoto = nullptr;

    QFrame *plGrid = nullptr;
    QTableView *clientGrid = nullptr;

    QMenu *popImgMenu = nullptr; // the picture slots' context menu, owned by the slots
    QAction *actDelPic = nullptr;
    QAction *actPreview = nullptr;
    QAction *actStop = nullptr;

    // Right pane: header line, live picture area, processing area.
    QFrame *TntPanel2 = nullptr;
    QFrame *TntPanel3 = nullptr;
    QFrame *TntPanel7 = nullptr;
    QLabel *lbLang = nullptr;
    QComboBox *cbLang = nullptr;
    QLabel *lbDicomState = nullptr; // the PACS outbox's sign: shown only while something waits
    QLabel *lbServerState = nullptr; // shown only while the database server is away or a save waits for it
    QFrame *TntPanel9 = nullptr;
    LogoImage *imgLogo = nullptr;
    QLabel *lbTitle = nullptr;
    QComboBox *cbTitle = nullptr;
    QLabel *lbProposer = nullptr;
    QComboBox *cbProposer = nullptr;
    QLabel *lbDoctor = nullptr;
    QLineEdit *edtDoctor = nullptr;

    QFrame *plMovieContainter = nullptr;
    QFrame *plMovie = nullptr;
    LivePictureView *Imagemovie = nullptr;
    ImageControl *imageFront = nullptr;
    QLabel *lbResulutionCap = nullptr;
    QSlider *TrackBar1 = nullptr;
    QLabel *lbResolution = nullptr;
    QPushButton *btnCameraProp = nullptr;
    QPushButton *btnRecord = nullptr;
    QPushButton *btnOpenVideo = nullptr;
    QPushButton *btnCalibration = nullptr;

    QFrame *plProcessContainter = nullptr;
    TfrmProcess *frmProcess = nullptr;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    // Control construction (untMainLayout.cpp).
    void setupWindow();
    void setupPatientGroup();
    void setupSheetGroup();
    void setupTreatmentGroup();
    void setupSheetButtons();
    void setupPatientGrid();
    void setupHeaderLine();
    void setupLivePictureArea();
    void setupProcessingArea();
    void setupActions();
    void describeControlsForAccessibility();
    void createSubsystems();
    void createProcessingPanel();

    void connectReactions();
    // DICOM sending and the worklist, when config.ini's [dicom] section names their servers.
    void startDicom();
    void startSecurity();
    void showOutboxState(int waiting, int failing, const QString &lastError);
    enum class ServerUse { Window, LookUps };
    void showServerAway(ServerUse use, bool away);
    // The same line says "saving" while a save waits for the database thread.
    void showSaving(bool saving);
    void showServerState();
    // A snapshot into a slot, unless a save holds the sheet.
    void takeSnapshot();

    bool m_shownOnce = false;
    bool m_closed = false;
    std::array<bool, 2> m_serverAway{}; // by ServerUse
    bool m_saving = false;

    QString m_imagesFolder;
    QString m_videoFolder;
    QString m_scratchFolder;

    IniFile m_iniFile;

    // Subsystems, each handed the controls it works on.
    Database ADOConn;
    RecordSet ADOQuery1; // the report's record set
    std::unique_ptr<CaptureGraph> m_capture;
    std::unique_ptr<PictureSlots> m_slots;
    std::unique_ptr<Snapshot> m_snapshot;
    std::unique_ptr<PatientLookup> m_lookup;
    std::unique_ptr<PatientNumbering> m_numbering;
    std::unique_ptr<ExaminationSheet> m_sheet;
    std::unique_ptr<ProcessPanel> m_processPanel;
    std::unique_ptr<Calibration> m_calibration;
    std::unique_ptr<ReportFilling> m_report;
    std::unique_ptr<PhraseLibrary> m_phrases;
    std::unique_ptr<LanguageTexts> m_language;
    std::unique_ptr<LogoLink> m_logo;
    // The audit trail's writer; declared before the workers that record into it.
    std::unique_ptr<AuditTrail> m_audit;
    WindowSecurity *m_security = nullptr; // a child QObject; with login on only
    std::unique_ptr<OutboxWorker> m_outbox; // sending examinations to the PACS
    std::unique_ptr<WorklistChoice> m_worklist; // F2 on the number field
    FocusRelease *m_focusRelease = nullptr;
};
