#pragma once

#include "dicom/DicomPeer.h"
#include "dicom/WorklistClient.h"

#include <QDate>
#include <QObject>

#include <functional>

class ExaminationSheet;
class PatientLookup;
class QComboBox;
class QWidget;

// Taking the patient from the modality worklist: F2 on the number field asks the worklist for
// today's procedures of this station, lists them, and the one chosen fills the patient fields
// (and the report title when empty); its accession number goes with the record saved next.
// Window thread only; the query itself runs on a short-lived thread while the window repaints.
class WorklistChoice : public QObject {
    Q_OBJECT

public:
    // text: language texts by key (Worklist.Caption, Worklist.Columns, OK.Caption, ...);
    // showMessage: a language message by key in its box (Msg_worklist_empty).
    WorklistChoice(const DicomPeer &worklist, PatientLookup &lookup, QComboBox *cbTitle, ExaminationSheet &sheet,
                   std::function<QString(const QString &key)> text, std::function<void(const QString &key)> showMessage,
                   QWidget *dialogParent, QObject *parent = nullptr);

    // The reaction of F2 on the number field. A failed query is shown in an error box and
    // changes nothing.
    void edtNumberF2();

    // The chosen item onto the sheet, all fields at once.
    void takeItem(const WorklistItem &item, const QDate &today);

private:
    int chooseItem(const QList<WorklistItem> &items);

    DicomPeer m_worklist;
    PatientLookup &m_lookup;
    QComboBox *m_cbTitle;
    ExaminationSheet &m_sheet;
    std::function<QString(const QString &)> m_text;
    std::function<void(const QString &)> m_showMessage;
    QWidget *m_dialogParent;
};
