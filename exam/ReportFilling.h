#pragma once

#include "core/Dialogs.h"
#include "records/DatabaseThread.h"
#include "report/ReportTemplate.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class Database;
class RecordSet;
class ReportPreview;
class ReportPrinter;
class QWidget;

// What report filling asks of the rest of the window.
struct ReportFillingHooks {
    // Opens ADOQuery1 on the patient's records, standing on the latest; false when none.
    std::function<bool(const QString &number)> openExaminationRecords;
    // Instead, when given: opens ADOQuery1 so in the background, with the pictures its records
    // name already fetched into the images folder, and then tells whether there were any.
    std::function<void(const QString &number, std::function<void(bool found)> then)> openExaminationRecordsThen;
    // When given, a deletion's statements run through it (on the sheet's database thread).
    DatabaseRunner runner;
    // Language texts by key (lbDate.Caption, "lbOne_doctor.Caption ").
    std::function<QString(const QString &key)> text;
    // Asks a question message by key (Msg_print_report, Msg_delete_report).
    std::function<Dialogs::Answer(const QString &key)> askMessage;
    // The text a sheet control shows now, by control name: label captions (lbName, lbPic, ...)
    // and the patient fields (edtNumber, edtName, cbSex, edtAge, edtTel, edtAddr).
    std::function<QString(const QString &controlName)> controlText;
    // The live capture graph: running now?, pause, run again. Optional.
    std::function<bool()> graphRunning;
    std::function<void()> pauseGraph;
    std::function<void()> runGraph;
    // Prints a prepared report under a job name at once. When not given, the report goes to
    // CUPS's default destination in the background and its fate is followed there.
    std::function<void(const ReportTemplate &report, const QString &jobName)> print;
};

// Fills the report template from the current examination record and the sheet, and shows it
// in the preview window or prints it; the preview's record buttons step through or delete the
// patient's records. The thread that owns its Database: the window for the preview and
// printing, the outbox's worker for the PACS's report page (ReportPdf, with no widgets shown).
class ReportFilling : public QObject {
    Q_OBJECT

public:
    // imagesFolder ends in "/"; templateFile is the report template (data/1.fr3 of the program).
    // The preview window opens as a window of its own, parented to previewParent when given.
    ReportFilling(RecordSet &ADOQuery1, Database &db, ReportFillingHooks hooks, const QString &imagesFolder,
                  const QString &templateFile, QWidget *previewParent = nullptr, QObject *parent = nullptr);
    // Whether the preview's delete button deletes records (login on: administrators only).
    void setDeleteAllowed(bool allowed);
    ~ReportFilling() override;

    // Reads a control's shown text by object name below window (labels, line edits,
    // drop-downs, buttons); empty when there is no such control. For ReportFillingHooks.
    static QString controlTextOf(const QWidget *window, const QString &controlName);

    // The reactions of btnPrevReport and btnPrint. They throw AppError on failure (run them
    // through ErrorDisplay::guarded).
    void btnPrevReportClick();
    void btnPrintClick();

    void PreviewReport();
    void PrintReport();
    // Loads the template afresh and sets its objects; throws AppError when the template is
    // missing, damaged or lacks one of the objects filled.
    void FillReport();

    // Window messages 1628 (record buttons: 1 first, 2 prior, 3 next, 4 last) and 1626
    // (delete button) of the preview window.
    void WMMySelRecordMsg(int lParam);
    void WMMyDelRecordMsg();

    bool reportReady() const { return m_reportReady; }
    const ReportTemplate &report() const { return m_report; }
    ReportPreview *preview() const;

    // The background printer (jobs handed to CUPS and followed there).
    ReportPrinter &printer() const { return *m_printer; }

private:
    // Runs one request with the ready flag down and the graph paused; both come back
    // afterwards whether the request succeeded or failed. A request that answers true finishes
    // later (a print being handed to CUPS) and calls finishRequest itself.
    template<typename Request> void runRequest(Request &&request);
    // ADOQuery1 opened on the number field's patient, then `then` when it has records.
    void withRecords(std::function<void()> then);
    void finishRequest();
    // Prints now through the hook (0), or starts a background print (its ticket).
    int print(const ReportTemplate &report);
    void printFailed(int ticket, const QString &reason);
    ReportObject &object(const QString &name);
    void setText(const QString &name, const QString &text);
    QString field(const QString &column) const;
    QString printDate() const;
    void loadPicture(int n);
    void showPreview();

    RecordSet &m_ADOQuery1;
    Database &m_db;
    ReportFillingHooks m_hooks;
    QString m_imagesFolder;
    QString m_templateFile;
    QWidget *m_previewParent;
    ReportTemplate m_report;
    bool m_reportReady = true;
    bool m_resumeGraph = false; // the request paused a running live picture
    int m_requestTicket = 0; // the background print that the running request waits for
    QPointer<ReportPreview> m_preview;
    ReportPrinter *m_printer;
    bool m_deleteAllowed = true; // false for an operator who is no administrator
};
