#pragma once

#include "dicom/DicomPeer.h"
#include "dicom/WorklistClient.h"

#include <QDate>
#include <QObject>

#include <functional>
#include <memory>

class ExaminationSheet;
class PatientLookup;
class QComboBox;
class QDialog;
class QThread;
class QWidget;

// Taking the patient from the modality worklist: F2 on the number field asks the worklist for
// today's procedures of this station, lists them, and the one chosen fills the patient fields
// (and the report title when empty); its order (study, procedure, step, accession number) goes
// with the record saved next.
// Window thread only; the query runs on a short-lived thread of its own behind a small dialog
// whose Cancel (or Escape) aborts it at once, and its answer comes back as a queued call.
class WorklistChoice : public QObject {
    Q_OBJECT

public:
    // text: language texts by key (Worklist.Caption, Worklist.Columns, OK.Caption, ...);
    // showMessage: a language message by key in its box (Msg_worklist_empty).
    WorklistChoice(const DicomPeer &worklist, PatientLookup &lookup, QComboBox *cbTitle, ExaminationSheet &sheet,
                   std::function<QString(const QString &key)> text, std::function<void(const QString &key)> showMessage,
                   QWidget *dialogParent, QObject *parent = nullptr);

    // Cancels a query under way; waits for its thread only a moment.
    ~WorklistChoice() override;

    // The reaction of F2 on the number field: starts the query and returns. A failed query is
    // shown in an error box and changes nothing; a cancelled one changes nothing either.
    void edtNumberF2();
    // Cancel in the waiting dialog: the query's association is aborted and its answer dropped.
    void cancelQuery();

    // The chosen item onto the sheet, all fields at once.
    void takeItem(const WorklistItem &item, const QDate &today);

private:
    struct Query;
    void answered(const std::shared_ptr<Query> &query);
    int chooseItem(const QList<WorklistItem> &items);

    DicomPeer m_worklist;
    PatientLookup &m_lookup;
    QComboBox *m_cbTitle;
    ExaminationSheet &m_sheet;
    std::function<QString(const QString &)> m_text;
    std::function<void(const QString &)> m_showMessage;
    QWidget *m_dialogParent;
    std::shared_ptr<Query> m_query; // the query the dialog waits for; null when none
    QDialog *m_waiting = nullptr; // the waiting dialog, child of m_dialogParent
    QList<QThread *> m_threads; // query threads not finished yet (a cancelled one ends soon)
};
