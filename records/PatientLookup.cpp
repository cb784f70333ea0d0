#include "records/PatientLookup.h"

#include "core/AppError.h"
#include "core/Audit.h"
#include "core/ControlText.h"
#include "core/ErrorDisplay.h"
#include "core/TrimmedText.h"
#include "records/ClientQuery.h"
#include "records/Database.h"
#include "records/NumberListModel.h"
#include "records/PatientText.h"
#include "records/Statements.h"

#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QListView>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTextDocument>
#include <QTextEdit>

namespace {

constexpr int kMaxVisibleNumbers = 6;
constexpr std::array<int, 6> kColumnWidths = {50, 50, 50, 50, 80, 170};
const std::array<const char *, 6> kLabelNames = {"lbNumber", "lbName", "lbSex", "lbAge", "lbTel", "lbAddr"};
const std::array<const char16_t *, 6> kBuiltInTitles = {u"编号", u"姓名", u"性别", u"年龄", u"电话", u"地址"};

// Only a text that differs is written: writing the shown text again repaints the field for
// nothing, and each keystroke's look-up writes or clears every patient field.
void setFieldText(QLineEdit *field, const QString &text)
{
    if (field && field->text() != text)
        field->setText(text);
}

// Paints an entry of `lstNumber` as the style's item view does for one line of plain text (the
// selection's highlight, the text inset by the focus frame's margin, centred vertically),
// without laying the text out first: the list is painted again at every keystroke.
class NumberItemDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const QPalette::ColorGroup group = !(option.state & QStyle::State_Enabled) ? QPalette::Disabled
            : (option.state & QStyle::State_Active)                                ? QPalette::Normal
                                                                                   : QPalette::Inactive;
        const bool selected = option.state & QStyle::State_Selected;
        if (selected)
            painter->fillRect(option.rect, option.palette.brush(group, QPalette::Highlight));
        const QStyle *style = option.widget ? option.widget->style() : nullptr;
        const int margin = (style ? style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, option.widget) : 0) + 1;
        painter->save();
        painter->setFont(option.font);
        painter->setPen(option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
        painter->drawText(option.rect.adjusted(margin, 0, -margin, 0), Qt::AlignLeft | Qt::AlignVCenter,
                          index.data(Qt::DisplayRole).toString());
        painter->restore();
    }
};

} // namespace

PatientLookup::PatientLookup(Database &db, const PatientControls &controls, PatientHooks hooks, QObject *parent)
    : QObject(parent)
    , m_db(db)
    , m_c(controls)
    , m_hooks(std::move(hooks))
    , m_clientQuery(new ClientQuery(this))
    , m_numbers(new NumberListModel(this))
{
    if (m_c.lstNumber) {
        m_c.lstNumber->setModel(m_numbers);
        m_c.lstNumber->setUniformItemSizes(true);
        m_c.lstNumber->setItemDelegate(new NumberItemDelegate(m_c.lstNumber));
        m_c.lstNumber->setEditTriggers(QAbstractItemView::NoEditTriggers);
        m_c.lstNumber->setSelectionMode(QAbstractItemView::SingleSelection);
        m_c.lstNumber->hide();
        ErrorDisplay::connectGuarded(m_c.lstNumber, &QAbstractItemView::doubleClicked, this,
                                     [this] { lstNumberDblClick(); });
    }
    if (m_c.clientGrid) {
        m_c.clientGrid->setModel(m_clientQuery);
        m_c.clientGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
        m_c.clientGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
        m_c.clientGrid->setSelectionMode(QAbstractItemView::SingleSelection);
        m_c.clientGrid->setShowGrid(true);
        m_c.clientGrid->verticalHeader()->setVisible(true);
        m_c.clientGrid->horizontalHeader()->setVisible(true);
        m_c.clientGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
        ErrorDisplay::connectGuarded(m_c.clientGrid, &QAbstractItemView::doubleClicked, this,
                                     [this] { clientGridDblClick(); });
    }
    if (m_c.plGrid)
        m_c.plGrid->hide();
    if (m_c.TntGroupBox1)
        m_c.TntGroupBox1->installEventFilter(this);
    connect(qApp, &QApplication::focusChanged, this, &PatientLookup::onFocusChanged);
    AttachPatientHandlers();
}

PatientLookup::~PatientLookup() = default;

// ---- change reactions -----------------------------------------------------------------------

template<typename LookUp> void PatientLookup::unlessServerAway(LookUp &&lookUp)
{
    try {
        if (!m_db.isAway()) {
            std::forward<LookUp>(lookUp)();
            return;
        }
    } catch (const AppError &) {
        if (!m_db.isAway())
            throw;
    }
    m_c.lstNumber->hide();
    if (m_c.plGrid)
        m_c.plGrid->hide();
}

void PatientLookup::edtNumberChange()
{
    const QString typed = Text::trimmed(m_c.edtNumber->text());
    if (typed.isEmpty()) {
        ++m_numberSerial;
        m_c.lstNumber->hide();
        return;
    }
    if (LookupThread *thread = lookupThread()) {
        const quint64 serial = ++m_numberSerial;
        thread->lookUpNumber(serial, typed, NumberListModel::kFirstPage, this,
                             [this, serial, typed, exits = m_numberExits,
                              inputs = m_inputsBesideNumber](const LookupThread::NumberAnswer &answer) {
                                 if (serial == m_numberSerial && inputs == m_inputsBesideNumber)
                                     ErrorDisplay::guarded([&] { applyNumberAnswer(typed, answer, exits); });
                             });
        return;
    }
    unlessServerAway([&] { lookUpNumber(typed); });
}

LookupThread *PatientLookup::lookupThread()
{
    if (!m_lookUpsOnThread || !m_db.parameters().isServer())
        return nullptr;
    if (!m_thread) {
        m_thread = std::make_unique<LookupThread>(m_db.parameters());
        qApp->installEventFilter(this);
        m_thread->setAwayListener(this, [this](bool away) {
            if (m_hooks.serverAway)
                m_hooks.serverAway(away);
        });
    }
    return m_thread.get();
}

// As lookUpNumber leaves the list and the fields, from the look-up thread's answer.
void PatientLookup::applyNumberAnswer(const QString &typed, const LookupThread::NumberAnswer &answer, quint64 exits)
{
    if (answer.failed) {
        m_c.lstNumber->hide();
        return;
    }
    m_numbers->show(
        [this](const QString &typed, const QString &afterKey, qint64 afterRow, NumberListModel::PageAnswer pageAnswer) {
            lookupThread()->readNumberPage(typed, afterKey, afterRow, NumberListModel::kPage, this,
                                           std::move(pageAnswer));
        },
        typed, answer.page);
    if (m_numbers->rowCount() == 0 || exits != m_numberExits) {
        m_c.lstNumber->hide();
    } else {
        placeNumberList();
        m_c.lstNumber->raise();
        m_c.lstNumber->show();
    }
    if (answer.exactCount == 1) {
        m_c.lstNumber->hide();
        PatientHandlersDetached detached(*this);
        ResetSlotSizes();
        if (answer.patient)
            showPatient(*answer.patient);
        if (m_hooks.LoadLastExamination)
            m_hooks.LoadLastExamination(typed);
    } else {
        ClearPatientAndSheet();
    }
}

bool PatientLookup::showGridRows(QList<QStringList> rows, quint64 hides)
{
    SetupPatientGrid();
    m_clientQuery->setRows(std::move(rows));
    if (m_clientQuery->RecordCount() == 0) {
        m_c.plGrid->hide();
        return false;
    }
    m_c.clientGrid->setCurrentIndex(m_clientQuery->index(0, 0));
    if (hides == m_gridHides) {
        m_c.plGrid->raise();
        m_c.plGrid->show();
    }
    return true;
}

void PatientLookup::lookUpNumber(const QString &typed)
{

    m_numbers->search(m_db, typed);
    if (m_numbers->rowCount() == 0) {
        m_c.lstNumber->hide();
    } else {
        placeNumberList();
        m_c.lstNumber->raise();
        m_c.lstNumber->show();
    }

    // A number held by several rows counts as unknown: nothing could say which one is meant.
    if (Statements::exactNumberCount(m_db, typed) == 1) {
        m_c.lstNumber->hide();
        PatientHandlersDetached detached(*this);
        ResetSlotSizes();
        LoadPatientByNumber(typed);
        if (m_hooks.LoadLastExamination)
            m_hooks.LoadLastExamination(typed);
    } else {
        ClearPatientAndSheet();
    }
}

void PatientLookup::edtNameChange()
{
    // No patient of that name: the other fields and the sheet empty too.
    const QString typed = Text::trimmed(m_c.edtName->text());
    ++m_gridSerial;
    if (LookupThread *thread = lookupThread(); thread && !typed.isEmpty()) {
        thread->searchGrid(m_gridSerial, Statements::SearchField::Name, typed, this,
                           [this, serial = m_gridSerial, hides = m_gridHides,
                            inputs = m_inputsBesideGrid](const LookupThread::GridAnswer &answer) {
                               if (serial != m_gridSerial || inputs != m_inputsBesideGrid)
                                   return;
                               if (answer.failed) {
                                   m_c.plGrid->hide();
                               } else if (!showGridRows(answer.rows, hides)) {
                                   ClearUnfocusedPatientFields();
                                   ClearSheet();
                               }
                           });
        return;
    }
    unlessServerAway([this] {
        if (!searchIntoGrid(Statements::SearchField::Name, m_c.edtName->text())) {
            ClearUnfocusedPatientFields();
            ClearSheet();
        }
    });
}

void PatientLookup::edtTelChange()
{
    const QString typed = Text::trimmed(m_c.edtTel->text());
    ++m_gridSerial;
    if (LookupThread *thread = lookupThread(); thread && !typed.isEmpty()) {
        thread->searchGrid(m_gridSerial, Statements::SearchField::Telephone, typed, this,
                           [this, serial = m_gridSerial, hides = m_gridHides,
                            inputs = m_inputsBesideGrid](const LookupThread::GridAnswer &answer) {
                               if (serial != m_gridSerial || inputs != m_inputsBesideGrid)
                                   return;
                               if (answer.failed)
                                   m_c.plGrid->hide();
                               else
                                   showGridRows(answer.rows, hides);
                           });
        return;
    }
    unlessServerAway([this] { searchIntoGrid(Statements::SearchField::Telephone, m_c.edtTel->text()); });
}

// Shows the patients matching the typed text in the grid; false when a search found nobody.
bool PatientLookup::searchIntoGrid(Statements::SearchField field, const QString &text)
{
    const QString typed = Text::trimmed(text);
    if (typed.isEmpty()) {
        m_c.plGrid->hide();
        return true;
    }
    SetupPatientGrid();
    m_clientQuery->open(m_db, field, typed);
    if (m_clientQuery->RecordCount() == 0) {
        m_c.plGrid->hide();
        return false;
    }
    m_c.clientGrid->setCurrentIndex(m_clientQuery->index(0, 0));
    m_c.plGrid->raise();
    m_c.plGrid->show();
    return true;
}

// ---- list, grid and focus reactions ---------------------------------------------------------

void PatientLookup::lstNumberDblClick()
{
    const QModelIndex current = m_c.lstNumber->currentIndex();
    if (!current.isValid() || !m_c.lstNumber->selectionModel()->isSelected(current))
        return;
    m_c.edtNumber->setText(m_numbers->number(current.row()));
}

void PatientLookup::lstNumberExit()
{
    ++m_numberExits;
    m_c.lstNumber->hide();
}

void PatientLookup::edtNumberExit(QWidget *newFocus)
{
    if (newFocus != m_c.lstNumber) {
        ++m_numberExits;
        m_c.lstNumber->hide();
    }
}

void PatientLookup::edtNameExit(QWidget *newFocus)
{
    if (newFocus != m_c.clientGrid) {
        ++m_gridHides;
        m_c.plGrid->hide();
    }
}

void PatientLookup::edtTelExit(QWidget *)
{
    // The telephone field keeps the grid when it loses the focus; the user may still look
    // the rows over and double-click one.
}

void PatientLookup::clientGridDblClick()
{
    const int row = m_c.clientGrid->currentIndex().row();
    if (row < 0 || row >= m_clientQuery->RecordCount())
        return;
    // All six values are read before the first write: writing the number or the name runs
    // that field's look-up, which may replace the grid's rows.
    QStringList values;
    for (const QString &column : Statements::kPatientColumns)
        values.append(m_clientQuery->value(row, column));
    setFieldText(m_c.edtNumber, values.at(0));
    setFieldText(m_c.edtName, values.at(1));
    ControlText::setComboText(m_c.cbSex, values.at(2));
    setFieldText(m_c.edtAge, values.at(3));
    setFieldText(m_c.edtTel, values.at(4));
    setFieldText(m_c.edtAddr, values.at(5));
    ++m_gridHides;
    m_c.plGrid->hide();
}

void PatientLookup::clientGridExit()
{
    ++m_gridHides;
    m_c.plGrid->hide();
}

void PatientLookup::TntGroupBox1Click()
{
    m_c.lstNumber->hide();
}

void PatientLookup::onFocusChanged(QWidget *old, QWidget *now)
{
    // The window losing activation is no exit of a field: the focus comes back to it.
    if (!now || !old)
        return;
    if (old == m_c.edtNumber)
        edtNumberExit(now);
    else if (old == m_c.lstNumber)
        lstNumberExit();
    else if (old == m_c.edtName)
        edtNameExit(now);
    else if (old == m_c.edtTel)
        edtTelExit(now);
    else if (old == m_c.clientGrid)
        clientGridExit();
}

bool PatientLookup::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick) {
        ++m_inputsBesideNumber;
        ++m_inputsBesideGrid;
    } else if (type == QEvent::KeyPress) {
        const QWidget *focus = QApplication::focusWidget();
        if (focus != m_c.edtNumber)
            ++m_inputsBesideNumber;
        if (focus != m_c.edtName && focus != m_c.edtTel)
            ++m_inputsBesideGrid;
    }
    if (watched == m_c.TntGroupBox1 && event->type() == QEvent::MouseButtonRelease
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
        TntGroupBox1Click();
    return QObject::eventFilter(watched, event);
}

// ---- own operations -------------------------------------------------------------------------

void PatientLookup::LoadPatientByNumber(const QString &number)
{
    const std::optional<Statements::Patient> patient = Statements::loadPatient(m_db, number);
    if (patient)
        showPatient(*patient);
}

void PatientLookup::showPatient(const Statements::Patient &patient)
{
    Audit::record(Audit::Event::PatientOpened, patient.client_id);
    setFieldText(m_c.edtName, patient.client_name);
    setFieldText(m_c.edtTel, patient.client_phone);
    ControlText::setComboText(m_c.cbSex, patient.sex);
    setFieldText(m_c.edtAge, patient.age);
    setFieldText(m_c.edtAddr, patient.address);
}

void PatientLookup::SetupPatientGrid()
{
    QStringList titles;
    for (size_t i = 0; i < kLabelNames.size(); ++i) {
        QString title;
        if (m_hooks.labelCaption)
            title = m_hooks.labelCaption(QString::fromLatin1(kLabelNames[i]));
        if (title.isEmpty())
            title = QString::fromUtf16(kBuiltInTitles[i]);
        titles.append(title);
    }
    m_clientQuery->setTitles(titles);
    for (size_t i = 0; i < kColumnWidths.size(); ++i)
        m_c.clientGrid->setColumnWidth(int(i), kColumnWidths[i]);
}

bool PatientLookup::holdsFocus(const QWidget *field) const
{
    if (!field)
        return false;
    const QWidget *focus = QApplication::focusWidget();
    return field->hasFocus() || (focus && field->isAncestorOf(focus));
}

void PatientLookup::ClearUnfocusedPatientFields()
{
    PatientHandlersDetached detached(*this);
    for (QLineEdit *field : {m_c.edtNumber, m_c.edtName}) {
        if (field && !holdsFocus(field))
            setFieldText(field, QString());
    }
    if (m_c.cbSex && !holdsFocus(m_c.cbSex))
        ControlText::setComboText(m_c.cbSex, QString());
    for (QLineEdit *field : {m_c.edtAge, m_c.edtTel, m_c.edtAddr}) {
        if (field && !holdsFocus(field))
            setFieldText(field, QString());
    }
}

void PatientLookup::ClearPatientAndSheet()
{
    ClearUnfocusedPatientFields();
    ClearSheet();
}

void PatientLookup::ResetSlotSizes()
{
    if (m_hooks.resetSlotSizes)
        m_hooks.resetSlotSizes();
}

void PatientLookup::ClearPatientFields()
{
    PatientHandlersDetached detached(*this);
    setFieldText(m_c.edtName, QString());
    ControlText::setComboText(m_c.cbSex, QString());
    setFieldText(m_c.edtAge, QString());
    setFieldText(m_c.edtTel, QString());
    setFieldText(m_c.edtAddr, QString());
}

void PatientLookup::ClearSheet()
{
    if (m_hooks.clearSlotPictures)
        m_hooks.clearSlotPictures();
    if (auto *memo = qobject_cast<QPlainTextEdit *>(m_c.mmSymp5)) {
        if (!memo->document()->isEmpty())
            memo->clear();
    } else if (auto *rich = qobject_cast<QTextEdit *>(m_c.mmSymp5)) {
        if (!rich->document()->isEmpty())
            rich->clear();
    } else if (auto *line = qobject_cast<QLineEdit *>(m_c.mmSymp5)) {
        setFieldText(line, QString());
    }
    for (QComboBox *line : m_c.diagnosisLines)
        ControlText::setComboText(line, QString());
    for (QComboBox *line : m_c.treatmentLines)
        ControlText::setComboText(line, QString());
    emit sheetCleared();
}

// ---- change reactions attached and detached -------------------------------------------------

void PatientLookup::DetachPatientHandlers()
{
    // What the code writes next into the fields replaces what a pending answer would write.
    ++m_numberSerial;
    ++m_gridSerial;
    disconnect(m_numberChange);
    disconnect(m_nameChange);
    disconnect(m_telChange);
}

void PatientLookup::AttachPatientHandlers()
{
    AttachNumberHandler();
    if (!m_nameChange && m_c.edtName)
        m_nameChange =
            ErrorDisplay::connectGuarded(m_c.edtName, &QLineEdit::textChanged, this, [this] { edtNameChange(); });
    if (!m_telChange && m_c.edtTel)
        m_telChange =
            ErrorDisplay::connectGuarded(m_c.edtTel, &QLineEdit::textChanged, this, [this] { edtTelChange(); });
}

void PatientLookup::DetachNumberHandler()
{
    ++m_numberSerial;
    disconnect(m_numberChange);
}

void PatientLookup::AttachNumberHandler()
{
    if (!m_numberChange && m_c.edtNumber)
        m_numberChange =
            ErrorDisplay::connectGuarded(m_c.edtNumber, &QLineEdit::textChanged, this, [this] { edtNumberChange(); });
}

void PatientLookup::placeNumberList()
{
    QWidget *pane = m_c.lstNumber->parentWidget();
    const QPoint fieldBottomLeft(0, m_c.edtNumber->height());
    QPoint topLeft;
    if (pane && pane->isAncestorOf(m_c.edtNumber))
        topLeft = m_c.edtNumber->mapTo(pane, fieldBottomLeft);
    else if (pane)
        topLeft = pane->mapFromGlobal(m_c.edtNumber->mapToGlobal(fieldBottomLeft));
    else
        topLeft = m_c.edtNumber->mapToGlobal(fieldBottomLeft);
    const int rows = std::min(m_numbers->rowCount(), kMaxVisibleNumbers);
    m_c.lstNumber->setGeometry(topLeft.x(), topLeft.y(), m_c.edtNumber->width(),
                               rows * NumberListModel::kItemHeight + 4);
}
