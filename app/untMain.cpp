#include "app/untMain.h"

#include "app/untMainSecurity.h"
#include "capture/CaptureGraph.h"
#include "capture/LivePicture.h"
#include "capture/LivePictureView.h"
#include "core/Audit.h"
#include "core/ProgramFolder.h"
#include "core/SafeFile.h"
#include "core/inifunc.h"
#include "dicom/DicomPeer.h"
#include "exam/DicomOutbox.h"
#include "exam/ExaminationSheet.h"
#include "exam/Logging.h"
#include "exam/PhraseLibrary.h"
#include "exam/PictureSlots.h"
#include "exam/ReportFilling.h"
#include "exam/Snapshot.h"
#include "exam/WorklistChoice.h"
#include "imaging/Calibration.h"
#include "imaging/ImageControl.h"
#include "imaging/ProcessPanel.h"
#include "imaging/untProcess.h"
#include "records/DeletionJournal.h"
#include "records/PatientLookup.h"
#include "records/PatientNumbering.h"
#include "security/AuditTrail.h"
#include "ui/CrossCursors.h"
#include "ui/FocusRelease.h"
#include "ui/LanguageTexts.h"
#include "ui/LogoImage.h"
#include "ui/LogoLink.h"
#include "ui/RotatedLabel.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSlider>
#include <QToolButton>

TfrmMain::TfrmMain(QWidget *parent)
    : QWidget(parent)
{
    setupWindow();
    setupPatientGroup();
    setupSheetGroup();
    setupTreatmentGroup();
    setupSheetButtons();
    setupPatientGrid();
    setupHeaderLine();
    setupLivePictureArea();
    setupProcessingArea();
    setupActions();
    describeControlsForAccessibility();
    createSubsystems();
    connectReactions();

    TntFormCreate();
}

TfrmMain::~TfrmMain()
{
    TntFormDestroy();
    // The subsystems go before the controls they were handed; no control may reach them on its
    // way out (a closing popup, a focus change).
    for (QObject *control : findChildren<QObject *>())
        control->blockSignals(true);
}

void TfrmMain::createSubsystems()
{
    m_imagesFolder = ProgramFolder::file(QStringLiteral("images/"));
    m_videoFolder = ProgramFolder::file(QStringLiteral("video/"));
    m_scratchFolder = ProgramFolder::file(QStringLiteral("temp/"));

    m_language = std::make_unique<LanguageTexts>(this, nullptr, [this] { return m_capture->recording(); });

    // Steps 1 and 2 of start-up: the frame bitmap, the device-ready flag, the media types and
    // the resolution catalogue come into being with the capture graph.
    CaptureControls captureControls;
    captureControls.Imagemovie = Imagemovie;
    captureControls.TrackBar1 = TrackBar1;
    captureControls.lbResolution = lbResolution;
    captureControls.btnRecord = btnRecord;
    captureControls.edtNumber = edtNumber;
    captureControls.owner = this;
    m_capture = std::make_unique<CaptureGraph>(captureControls, m_iniFile);
    // Until the language is applied at the first show, the built-in captions stand.
    m_capture->setCaptionLookup(
        [this](const QString &key, const QString &builtIn) { return m_shownOnce ? m_language->text(key) : builtIn; });

    PictureSlotControls slotControls;
    PhraseControls phraseControls;
    phraseControls.diagnosisLines = symptomLines;
    phraseControls.treatmentLines = treatLines;
    for (int i = 0; i < 4; ++i) {
        slotControls.frames[i] = plImageContener[i];
        slotControls.masks[i] = plMask[i];
        slotControls.images[i] = imgPic[i];
        phraseControls.diagnosisButtons[i] = symptomButtons[i];
        phraseControls.treatmentButtons[i] = treatButtons[i];
    }
    slotControls.btnGetPhoto = btnGetPhoto;
    phraseControls.ckbHaveTreat = ckbHaveTreat;
    // Slot clicks, the context menu, "调看照片", the "-" buttons and the treatment box are
    // connected by their subsystems.
    m_slots = std::make_unique<PictureSlots>(slotControls);
    popImgMenu = m_slots->popImgMenu();
    actDelPic = m_slots->actDelPic();
    LiveSource live;
    live.copyLivePicture = [this] { return m_capture->livePicture().copy(); };
    live.captureSize = [this] { return m_capture->captureSize(); };
    live.rememberedRunning = [this] { return m_capture->rememberedGraphState() == GraphState::Running; };
    live.runGraph = [this] { m_capture->run(); };
    live.cameraLost = [this] { return m_capture->cameraLost(); };
    m_snapshot = std::make_unique<Snapshot>(*m_slots, live);
    m_phrases = std::make_unique<PhraseLibrary>(m_iniFile, phraseControls);

    PatientControls patientControls;
    patientControls.edtNumber = edtNumber;
    patientControls.edtName = edtName;
    patientControls.cbSex = cbSex;
    patientControls.edtAge = edtAge;
    patientControls.edtTel = edtTel;
    patientControls.edtAddr = edtAddr;
    patientControls.lstNumber = lstNumber;
    patientControls.plGrid = plGrid;
    patientControls.clientGrid = clientGrid;
    patientControls.TntGroupBox1 = TntGroupBox1;
    patientControls.btnNew = btnNew;
    patientControls.btnDelCient = btnDelCient;
    patientControls.mmSymp5 = mmSymp5;
    patientControls.diagnosisLines = symptomLines;
    patientControls.treatmentLines = treatLines;
    PatientHooks patientHooks;
    patientHooks.LoadLastExamination = [this](const QString &number) {
        Q_ASSERT(m_sheet);
        m_sheet->LoadLastExamination(number);
    };
    patientHooks.clearSlotPictures = [this] {
        for (int slot = 1; slot <= 4; ++slot)
            m_slots->ClearSlotPicture(slot);
    };
    patientHooks.resetSlotSizes = [this] { m_slots->ResetSlotSizes(); };
    patientHooks.serverAway = [this](bool away) {
        if (away)
            ADOConn.markAway();
        showServerAway(ServerUse::LookUps, away);
    };
    patientHooks.labelCaption = [this](const QString &labelName) {
        const auto *caption = findChild<QLabel *>(labelName);
        return caption ? caption->text() : QString();
    };
    // Look-up while typing, "+" and "-": connected by the patient objects themselves.
    m_lookup = std::make_unique<PatientLookup>(ADOConn, patientControls, patientHooks);
    m_lookup->setLookUpsOnThread(true);
    m_numbering = std::make_unique<PatientNumbering>(ADOConn, *m_lookup);

    SheetControls sheetControls;
    sheetControls.cbTitle = cbTitle;
    sheetControls.cbProposer = cbProposer;
    sheetControls.edtDoctor = edtDoctor;
    sheetControls.mmSymp5 = mmSymp5;
    sheetControls.diagnosisLines = symptomLines;
    sheetControls.treatmentLines = treatLines;
    sheetControls.ckbHaveTreat = ckbHaveTreat;
    sheetControls.btnGenReport = btnGenReport; // "生成报告" is connected by the sheet
    // The report: preview, print, and the preview window's record messages (connected by it).
    ReportFillingHooks reportHooks;
    reportHooks.openExaminationRecords = [this](const QString &number) {
        Q_ASSERT(m_sheet);
        return m_sheet->OpenExaminationRecords(number);
    };
    reportHooks.runner = [this](DatabaseThread::Job job, DatabaseThread::Done done) {
        m_sheet->runOnDatabase(std::move(job), std::move(done));
    };
    reportHooks.openExaminationRecordsThen = [this](const QString &number, std::function<void(bool)> then) {
        Q_ASSERT(m_sheet);
        m_sheet->openExaminationRecords(number, std::move(then));
    };
    reportHooks.text = [this](const QString &key) {
        return key.startsWith(u"Msg_") ? m_language->message(key) : m_language->text(key);
    };
    reportHooks.askMessage = [this](const QString &key) { return m_language->showMessage(key, this); };
    reportHooks.controlText = [this](const QString &name) { return ReportFilling::controlTextOf(this, name); };
    reportHooks.graphRunning = [this] { return m_capture->graphState() == GraphState::Running; };
    reportHooks.pauseGraph = [this] { m_capture->pause(); };
    reportHooks.runGraph = [this] { m_capture->run(); };
    m_report = std::make_unique<ReportFilling>(ADOQuery1, ADOConn, reportHooks, m_imagesFolder,
                                               ProgramFolder::file(QStringLiteral("data/1.fr3")), this);

    // Calibration and measuring on the live picture's overlay; "测量校准" is connected by it.
    CalibrationHooks calibrationHooks;
    calibrationHooks.graphRunning = [this] { return m_capture->graphState() == GraphState::Running; };
    calibrationHooks.pauseGraph = [this] { m_capture->pause(); };
    calibrationHooks.captureHeight = [this] { return m_capture->captureSize().height(); };
    calibrationHooks.crossCursor = [] { return CrossCursors::cursor(4); };
    calibrationHooks.text = [this](const QString &key) { return m_language->text(key); };
    calibrationHooks.calibrationFinished = [this] {
        m_language->showMessage(QStringLiteral("Msg_Cali_Finished"), this);
    };
    calibrationHooks.dialogParent = this;
    m_calibration = std::make_unique<Calibration>(CalibrationControls{.imageFront = imageFront,
                                                                      .Imagemovie = Imagemovie,
                                                                      .btnCalibration = btnCalibration,
                                                                      .TrackBar1 = TrackBar1},
                                                  m_iniFile, calibrationHooks);

    m_sheet = std::make_unique<ExaminationSheet>(sheetControls, m_iniFile, ADOConn, ADOQuery1, *m_slots, *m_phrases,
                                                 *m_lookup, *m_numbering, ExaminationSheet::messagesOf(*m_language),
                                                 m_imagesFolder);
    // The lengths saved are observed by whoever is logged in (nobody without accounts).
    m_sheet->setObserver([this] {
        const std::optional<OperatorAccount> account = m_security ? m_security->current() : std::nullopt;
        return !account ? QString() : account->displayName.isEmpty() ? account->login : account->displayName;
    });
    m_numbering->setRunner([this](DatabaseThread::Job job, DatabaseThread::Done done) {
        m_sheet->runOnDatabase(std::move(job), std::move(done));
    });
    // On a server the save waits on its own thread; the sheet and its header take no input meanwhile.
    m_sheet->setSavesOnThread({.held = {TntPanel1, cbTitle, cbProposer, edtDoctor},
                               .busy = [this](bool saving) { showSaving(saving); },
                               .serverAway =
                                   [this](bool away) {
                                       // The window's connection stands for the server's state.
                                       if (away)
                                           ADOConn.markAway();
                                       else
                                           ADOConn.markBack();
                                   }});

    m_logo = std::make_unique<LogoLink>(imgLogo);
    // Pointer movement over the containers' backgrounds and TntPanel2Click.
    m_focusRelease = new FocusRelease(FocusRelease::find(this), this);
}

// The reaction table: each control's event and the operation that answers it.
void TfrmMain::connectReactions()
{
    using ErrorDisplay::connectGuarded;
    // Camera choice, live preview, capture sizes, recording.
    connectGuarded(actPreview, &QAction::triggered, this, [this] { actPreviewExecute(); });
    connectGuarded(actStop, &QAction::triggered, this, [this] { actStopExecute(); });
    connectGuarded(btnCameraProp, &QPushButton::clicked, this, [this] { m_capture->btnCameraPropClick(); });
    connectGuarded(TrackBar1, &QSlider::valueChanged, this, [this] { m_capture->TrackBar1Change(); });
    connectGuarded(Imagemovie, &LivePictureView::clicked, this, [this] { m_capture->ImagemovieClick(); });
    connectGuarded(Imagemovie, &LivePictureView::mouseReleased, this,
                   [this](Qt::MouseButton button) { m_capture->ImagemovieMouseUp(button); });
    connectGuarded(btnRecord, &QPushButton::clicked, this, [this] { m_capture->btnRecordClick(); });
    connectGuarded(btnOpenVideo, &QPushButton::clicked, this, [this] { m_capture->btnOpenVideoClick(); });

    // Snapshots: a double-click on the live picture, or the camera's snapshot button.
    connectGuarded(Imagemovie, &LivePictureView::doubleClicked, this, [this] { takeSnapshot(); });
    connectGuarded(m_capture.get(), &CaptureGraph::snapshotRequested, this, [this] { takeSnapshot(); });

    // The report.
    connectGuarded(btnPrevReport, &QPushButton::clicked, this, [this] { m_report->btnPrevReportClick(); });
    connectGuarded(btnPrint, &QPushButton::clicked, this, [this] { m_report->btnPrintClick(); });

    // Language, appearance and branding.
    connectGuarded(cbLang, &QComboBox::activated, this, [this] { m_language->cbLangChange(); });
    connectGuarded(imgLogo, &LogoImage::clicked, this, [this] { m_logo->imgLogoClick(); });
}

// The image processing panel's operations exist once the panel does (start-up step 12); a
// double-clicked slot picture opens in it.
void TfrmMain::createProcessingPanel()
{
    ProcessPanelHooks hooks{
        .keepPicture = [this](int slot, const QImage &picture) { m_slots->setPicture(slot, picture); },
        .reloadedRealHeight =
            [this] {
                Q_ASSERT(m_sheet);
                return m_sheet->rh();
            },
        .crossCursor = [] { return CrossCursors::cursor(4); },
        .slotMeasurements = [this](int slot) { return m_slots->measurements(slot); },
        .keepMeasurements = [this](int slot, const Measurements &lines) { m_slots->setMeasurements(slot, lines); },
    };
    m_processPanel = std::make_unique<ProcessPanel>(frmProcess, plProcessContainter, m_iniFile, hooks);
    connect(m_slots.get(), &PictureSlots::slotDoubleClicked, m_processPanel.get(), &ProcessPanel::imgPic1DblClick);
}

void TfrmMain::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_shownOnce && !event->spontaneous()) {
        m_shownOnce = true;
        ErrorDisplay::guarded([this] { TntFormShow(); });
    }
}

void TfrmMain::closeEvent(QCloseEvent *event)
{
    if (!m_closed) {
        m_closed = true;
        TntFormClose();
    }
    event->accept();
}

// Start-up: the steps run in this order; a failing step ends the sequence, is shown, and the
// window still opens with what the earlier steps set up.
void TfrmMain::TntFormCreate()
{
    ErrorDisplay::guarded([this] {
        // 1-2. Frame bitmap, device-ready flag, media types and resolution catalogue: owned by
        // the capture subsystem, created with it.

        // 3. config.ini lies in the program's folder.
        SetConfigFolder(ProgramFolder::path());

        // 4. The images, video and scratch folders: created when missing, left as they are.
        for (const QString &folder : {m_imagesFolder, m_videoFolder, m_scratchFolder}) {
            // A folder that cannot be created shows its failure when a file in it is written.
            QDir().mkdir(folder);
        }
        // Temporary pictures of a save a crash cut short are never whole: they go, as the
        // settings' do.
        SafeFile::removeLeftoversIn(m_imagesFolder);

        // 5. The settings store; nothing is read yet.
        m_iniFile.setPath(ProgramFolder::file(QStringLiteral("system.ini")));

        // 6. Open the database: created with its tables when missing. While its server is away
        // the header line says so.
        ADOConn.setAwayListener([this](bool away) { showServerAway(ServerUse::Window, away); });
        ADOConn.open();
        m_audit = std::make_unique<AuditTrail>(ADOConn.parameters(),
                                               Workstation::thisComputer(DicomSettings::read().pacs.callingAe));
        Audit::record(Audit::Event::ApplicationStart);
        // 6b. With [security] login=1, the login screen covers the window from here on.
        startSecurity();
        // Deleted patients and records are kept for config.ini [deletion] days (a value that is
        // no positive number keeps the default), then purged.
        bool daysValid = false;
        const int days =
            ReadConfigString(QStringLiteral("deletion"), QStringLiteral("days"), QString()).toInt(&daysValid);
        // On a server on the sheet's database thread, behind the window's first paint.
        m_sheet->runOnDatabase([days = daysValid && days > 0 ? days : DeletionJournal::kDefaultDays,
                                folder = m_imagesFolder](Database &db) { DeletionJournal::purge(db, days, folder); },
                               [](std::exception_ptr failure) {
                                   if (failure)
                                       std::rethrow_exception(failure);
                               });
        // 7. Phrase choices of the diagnosis and treatment lines.
        m_phrases->LoadPhraseChoices(PhraseLibrary::Group::Diagnosis);
        m_phrases->LoadPhraseChoices(PhraseLibrary::Group::Treatment);
        // 8. Report header and the remembered titles and requesting doctors.
        m_sheet->LoadReportHeader();
        m_sheet->LoadHeaderList(cbProposer, QStringLiteral("proposer"));
        m_sheet->LoadHeaderList(cbTitle, QStringLiteral("title"));
        // 8a. DICOM: the PACS outbox's worker and the worklist shortcut, when configured.
        startDicom();

        // 9. The measuring overlay of the live picture.
        EnsureBlankOverlay(imageFront);

        // 10. Live picture and overlay fill plMovie, drawn off screen first; the live picture
        // area fills the right pane below the header line.
        const QRect inside = plMovie->contentsRect();
        imageFront->setGeometry(inside);
        Imagemovie->setGeometry(inside);
        plMovie->setAttribute(Qt::WA_OpaquePaintEvent);
        plMovieContainter->setGeometry(0, TntPanel3->height(), TntPanel2->width(),
                                       TntPanel2->height() - TntPanel3->height());

        // 11. Picture slots.
        LayoutPictureSlots();

        // 12. The image processing panel, inside its container, which then covers the live
        // picture area and is hidden.
        frmProcess = new TfrmProcess(plProcessContainter);
        frmProcess->resetLayers();
        EnsureBlankOverlay(frmProcess->imageFront);
        for (QWidget *control : frmProcess->findChildren<QWidget *>())
            control->setAccessibleDescription(control->objectName());
        plProcessContainter->setGeometry(plMovieContainter->geometry());
        plProcessContainter->hide();
        m_language->setProcessPanel(frmProcess);
        createProcessingPanel();

        // 13. The patient grid is hidden until a search finds rows.
        plGrid->hide();

        // 14. Pointer shapes.
        CrossCursors::LoadCrossCursors();
        // 15. Logo.
        m_logo->LoadLogo();
        // 16. Start the live preview; the first frames may arrive before the window shows.
        actPreviewExecute();
    });
}

void TfrmMain::TntFormShow()
{
    // 1. Language selector; 2. the remembered language, applied to every text.
    m_language->applyRememberedLanguage();
    // 3. The treatment lines are in use.
    ckbHaveTreat->setChecked(true);
}

// Closing: a failing step is shown, but the capture still stops and the database still
// closes, so a running recording is finished and nothing is left half-written.
void TfrmMain::TntFormClose()
{
    // 1. Report header and the remembered lists.
    ErrorDisplay::guarded([this] {
        m_sheet->SaveReportHeader();
        m_sheet->SaveHeaderList(cbProposer, QStringLiteral("proposer"));
        m_sheet->SaveHeaderList(cbTitle, QStringLiteral("title"));
        // Unsaved snapshots go with the window: their procedure step is discontinued.
        m_sheet->closing();
    });
    // 2. Stop the capture: no camera frame arrives after this.
    ErrorDisplay::guarded([this] { actStopExecute(); });
    // 3. The outbox's worker ends (what waits stays in the database), then the database closes.
    if (m_outbox)
        m_outbox->stop();
    Audit::record(Audit::Event::ApplicationStop);
    m_audit.reset();
    ADOQuery1.close();
    ADOConn.close();
}

void TfrmMain::TntFormDestroy()
{
    // A window destroyed without closing still stops its streams before anything they use goes.
    if (m_capture && !m_closed)
        ErrorDisplay::guarded([this] { actStopExecute(); });
    delete frmProcess;
    frmProcess = nullptr;
}

void TfrmMain::startDicom()
{
    const DicomSettings dicom = DicomSettings::read();
    if (dicom.pacs.enabled()) {
        m_outbox = std::make_unique<OutboxWorker>(ADOConn.parameters(), dicom.pacs, ReportSource::fromProgramFolder(),
                                                  nullptr, dicom.mpps);
        if (dicom.mpps.enabled())
            m_sheet->setProcedureSteps(dicom.mpps.callingAe);
        if (dicom.commit)
            m_outbox->setCommitment(dicom.listener);
        connect(m_outbox.get(), &OutboxWorker::stateChanged, this, &TfrmMain::showOutboxState);
        m_sheet->setOutbox([this] { m_outbox->wake(); });
        // A recorded MP4 clip of the patient goes to the PACS with the patient's examination.
        ErrorDisplay::connectGuarded(
            m_capture.get(), &CaptureGraph::mp4RecordingFinished, this,
            [this](const QString &file, const QString &number) { m_sheet->clipRecorded(file, number); });
        m_outbox->start();
    }
    if (dicom.worklist.enabled()) {
        m_worklist = std::make_unique<WorklistChoice>(
            dicom.worklist, *m_lookup, cbTitle, *m_sheet, [this](const QString &key) { return m_language->text(key); },
            [this](const QString &key) { m_language->showMessage(key, this); }, this);
    }
}

// Nothing on the window while the outbox is empty; a short line while instances wait, naming
// the last failure (its full text in the tooltip).
void TfrmMain::showOutboxState(int waiting, int failing, const QString &lastError)
{
    if (waiting == 0) {
        lbDicomState->hide();
        return;
    }
    if (failing > 0 || waiting < 0) {
        lbDicomState->setText(m_language->text(QStringLiteral("DicomOutbox.Failing")).arg(std::max(failing, 0)));
        lbDicomState->setToolTip(lastError);
        lbDicomState->setStyleSheet(QStringLiteral("color: #b03a2e"));
    } else {
        lbDicomState->setText(m_language->text(QStringLiteral("DicomOutbox.Waiting")).arg(waiting));
        lbDicomState->setToolTip(QString());
        lbDicomState->setStyleSheet(QStringLiteral("color: #606060"));
    }
    lbDicomState->show();
}

// The sign shows while the window's connection or the look-ups' finds the server away.
void TfrmMain::showServerAway(ServerUse use, bool away)
{
    m_serverAway[size_t(use)] = away;
    showServerState();
}

void TfrmMain::showSaving(bool saving)
{
    m_saving = saving;
    showServerState();
}

// "Away" wins over "saving": a save while the server is away fails at once.
void TfrmMain::showServerState()
{
    const bool away = m_serverAway[0] || m_serverAway[1];
    lbServerState->setText(
        m_language->text(away ? QStringLiteral("Database.Away") : QStringLiteral("Database.Saving")));
    lbServerState->setStyleSheet(away ? QStringLiteral("color: #b03a2e") : QStringLiteral("color: #606060"));
    lbServerState->setVisible(away || m_saving);
}

void TfrmMain::takeSnapshot()
{
    // The save's answer puts the stored record back into the slots.
    if (m_sheet->saving()) {
        qCInfo(lcExam) << "no snapshot while a save waits for the database server";
        return;
    }
    m_snapshot->ImagemovieDblClick();
}

void TfrmMain::actPreviewExecute()
{
    m_capture->actPreviewExecute();
}

void TfrmMain::actStopExecute()
{
    m_capture->actStopExecute();
}

void TfrmMain::EnsureBlankOverlay(ImageControl *control)
{
    if (!control->picture().isNull())
        return;
    QImage blank(640, 480, QImage::Format_RGB888);
    blank.fill(Qt::white);
    control->setPicture(blank);
    control->setTransparent(true);
}

void TfrmMain::LayoutPictureSlots()
{
    m_slots->LayoutPictureSlots();
}
