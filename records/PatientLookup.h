#pragma once

#include "records/LookupThread.h"
#include "records/Statements.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <array>
#include <functional>
#include <memory>

class ClientQuery;
class Database;
class NumberListModel;
class QComboBox;
class QLineEdit;
class QListView;
class QPushButton;
class QTableView;
class QWidget;

// The controls of the patient group and the sheet texts that the patient operations work on.
// The window creates them and keeps owning them.
struct PatientControls {
    QLineEdit *edtNumber = nullptr;
    QLineEdit *edtName = nullptr;
    QComboBox *cbSex = nullptr; // editable
    QLineEdit *edtAge = nullptr;
    QLineEdit *edtTel = nullptr;
    QLineEdit *edtAddr = nullptr;
    // A child of the left pane (not of the patient group), so it can hang over the sheet.
    QListView *lstNumber = nullptr;
    QWidget *plGrid = nullptr;
    QTableView *clientGrid = nullptr; // a child of plGrid
    QWidget *TntGroupBox1 = nullptr; // optional: a click on it hides lstNumber
    QPushButton *btnNew = nullptr;
    QPushButton *btnDelCient = nullptr;
    // The sheet's text part, emptied by ClearSheet: the findings memo (QPlainTextEdit,
    // QTextEdit or QLineEdit), the diagnosis lines TntComboBox1..4 and the treatment lines
    // TntComboBox21..24. Any of them may be missing.
    QWidget *mmSymp5 = nullptr;
    std::array<QComboBox *, 4> diagnosisLines{};
    std::array<QComboBox *, 4> treatmentLines{};
};

// What other subsystems do for the patient operations; any may be left empty.
struct PatientHooks {
    std::function<void(const QString &number)> LoadLastExamination; // shows the latest record
    std::function<void()> clearSlotPictures; // ClearSlotPicture for slots 1, 2, 3, 4
    std::function<void()> resetSlotSizes; // the four slot capture sizes to 0 x 0
    // The current caption of a label ("lbNumber", "lbName", "lbSex", "lbAge", "lbTel",
    // "lbAddr"); the built-in captions are used while it is empty or answers empty.
    std::function<QString(const QString &labelName)> labelCaption;
    // The look-up thread's server went away (true) or is back (false).
    std::function<void(bool away)> serverAway;
};

// Patient look-up while typing: the number, name and telephone fields search the patient
// table on every change, offer numbers in `lstNumber` and patients in `clientGrid`, and load
// a patient whose number is typed in full. Also owns the patient fields' change reactions and
// the clearing of the fields and of the sheet. Window thread only.
class PatientLookup : public QObject {
    Q_OBJECT
public:
    PatientLookup(Database &db, const PatientControls &controls, PatientHooks hooks, QObject *parent = nullptr);
    ~PatientLookup() override;

    // Change reactions (attached to textChanged) and the other reactions. The connected forms
    // show failures through the default error display; these throw AppError.
    void edtNumberChange();
    // With a server engine, the keystroke look-ups run on a look-up thread of their own (the
    // window turns this on); off, they run here on the caller's connection.
    void setLookUpsOnThread(bool on) { m_lookUpsOnThread = on; }
    void edtNameChange();
    void edtTelChange();
    void lstNumberDblClick();
    void lstNumberExit();
    void edtNumberExit(QWidget *newFocus);
    void edtNameExit(QWidget *newFocus);
    void edtTelExit(QWidget *newFocus);
    void clientGridDblClick();
    void clientGridExit();
    void TntGroupBox1Click();

    void LoadPatientByNumber(const QString &number);
    void SetupPatientGrid();
    void ClearUnfocusedPatientFields();
    void ClearPatientAndSheet();
    void ResetSlotSizes();

    // Operations of the patient fields shared with numbering and the save.
    void ClearPatientFields();
    // Empties the sheet's text part and its pictures, then sheetCleared.
    void ClearSheet();
    void DetachPatientHandlers();
    void AttachPatientHandlers();
    // Only the number field's reaction (drawing a number at saving time).
    void DetachNumberHandler();
    void AttachNumberHandler();

    ClientQuery *clientQuery() const { return m_clientQuery; }
    NumberListModel *numberList() const { return m_numbers; }
    const PatientControls &controls() const { return m_c; }
    Database &database() const { return m_db; }
    // Something besides a click or a key changed the sheet (a snapshot from the camera's button,
    // a number drawn): a look-up answer still on its way is dropped, as after a click.
    void dropAnswersUnderWay()
    {
        ++m_inputsBesideNumber;
        ++m_inputsBesideGrid;
    }

signals:
    // The sheet was emptied (ClearSheet): an examination under way on it ends.
    void sheetCleared();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool searchIntoGrid(Statements::SearchField field, const QString &text);
    // Runs a keystroke's look-up unless the database server is away; while it is away (or when
    // the look-up finds it gone) the look-up finds nothing and changes nothing typed.
    template<typename LookUp> void unlessServerAway(LookUp &&lookUp);
    void lookUpNumber(const QString &typed);
    // With a server engine the keystroke look-ups run on the look-up thread (made at the first
    // one); nullptr with SQLite, whose look-ups run here.
    LookupThread *lookupThread();
    void applyNumberAnswer(const QString &typed, const LookupThread::NumberAnswer &answer, quint64 exits);
    // The rows into the grid, shown unless an exit hid the grid since `hides`; false for none.
    bool showGridRows(QList<QStringList> rows, quint64 hides);
    void showPatient(const Statements::Patient &patient);
    void onFocusChanged(QWidget *old, QWidget *now);
    void placeNumberList();
    bool holdsFocus(const QWidget *field) const;

    Database &m_db;
    PatientControls m_c;
    PatientHooks m_hooks;
    ClientQuery *m_clientQuery;
    NumberListModel *m_numbers;
    QMetaObject::Connection m_numberChange;
    QMetaObject::Connection m_nameChange;
    QMetaObject::Connection m_telChange;
    bool m_lookUpsOnThread = false;
    std::unique_ptr<LookupThread> m_thread;
    // The newest asynchronous request of each kind (older answers are dropped; a detach of the
    // handlers drops every pending answer), and how often an exit hid the list and the grid.
    quint64 m_numberSerial = 0;
    quint64 m_gridSerial = 0;
    quint64 m_numberExits = 0;
    quint64 m_gridHides = 0;
    // The operator's clicks anywhere and key presses outside the field that asked, since the
    // start: an answer asked before one of them is dropped, so it never undoes what followed.
    quint64 m_inputsBesideNumber = 0;
    quint64 m_inputsBesideGrid = 0;
};

// Detaches the three change reactions for a scope and attaches them again on every way out.
class PatientHandlersDetached {
public:
    explicit PatientHandlersDetached(PatientLookup &lookup)
        : m_lookup(lookup)
    {
        m_lookup.DetachPatientHandlers();
    }
    ~PatientHandlersDetached() { m_lookup.AttachPatientHandlers(); }
    PatientHandlersDetached(const PatientHandlersDetached &) = delete;
    PatientHandlersDetached &operator=(const PatientHandlersDetached &) = delete;

private:
    PatientLookup &m_lookup;
};

// Detaches the number's change reaction alone for a scope and attaches it again on every way out.
class NumberHandlerDetached {
public:
    explicit NumberHandlerDetached(PatientLookup &lookup)
        : m_lookup(lookup)
    {
        m_lookup.DetachNumberHandler();
    }
    ~NumberHandlerDetached() { m_lookup.AttachNumberHandler(); }
    NumberHandlerDetached(const NumberHandlerDetached &) = delete;
    NumberHandlerDetached &operator=(const NumberHandlerDetached &) = delete;

private:
    PatientLookup &m_lookup;
};
