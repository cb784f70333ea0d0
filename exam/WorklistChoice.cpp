#include "exam/WorklistChoice.h"

#include "core/Audit.h"
#include "core/ControlText.h"
#include "core/Dialogs.h"
#include "core/ErrorDisplay.h"
#include "core/TrimmedText.h"
#include "exam/ExaminationSheet.h"
#include "records/PatientLookup.h"

#include <QComboBox>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTableWidget>
#include <QThread>
#include <QVBoxLayout>

#include <utility>

WorklistChoice::WorklistChoice(const DicomPeer &worklist, PatientLookup &lookup, QComboBox *cbTitle,
                               ExaminationSheet &sheet, std::function<QString(const QString &key)> text,
                               std::function<void(const QString &key)> showMessage, QWidget *dialogParent,
                               QObject *parent)
    : QObject(parent)
    , m_worklist(worklist)
    , m_lookup(lookup)
    , m_cbTitle(cbTitle)
    , m_sheet(sheet)
    , m_text(std::move(text))
    , m_showMessage(std::move(showMessage))
    , m_dialogParent(dialogParent)
{
    auto *f2 =
        new QShortcut(QKeySequence(Qt::Key_F2), m_lookup.controls().edtNumber, nullptr, nullptr, Qt::WidgetShortcut);
    ErrorDisplay::connectGuarded(f2, &QShortcut::activated, this, [this] { edtNumberF2(); });
}

// What a query's thread and the window's thread share; the thread writes items or error before
// it finishes, the window reads them after.
struct WorklistChoice::Query {
    DicomCancel cancel;
    QDate today;
    QList<WorklistItem> items;
    QString error; // empty on success
};

WorklistChoice::~WorklistChoice()
{
    // A cancelled query ends within 100 ms (see DicomCancel); only a host name still being
    // resolved holds it longer. The window does not wait for that: such a thread finishes alone
    // (it touches nothing of this object) and deletes itself.
    for (QThread *thread : std::as_const(m_threads)) {
        connect(thread, &QThread::finished, thread, &QObject::deleteLater);
        if (m_query)
            m_query->cancel.cancel();
        thread->wait(QDeadlineTimer(500));
    }
}

void WorklistChoice::edtNumberF2()
{
    if (m_query)
        return; // one query at a time; the dialog is up
    auto query = std::make_shared<Query>();
    query->today = QDate::currentDate();
    QThread *thread = QThread::create([query, peer = m_worklist] {
        try {
            query->items = WorklistClient::query(peer, query->today, &query->cancel);
        } catch (const AppError &error) {
            query->error = error.message();
        }
    });
    m_threads.append(thread);
    connect(thread, &QThread::finished, this, [this, thread, query] {
        m_threads.removeOne(thread);
        thread->deleteLater();
        if (query == m_query)
            answered(query);
    });
    m_query = query;

    m_waiting = new QDialog(m_dialogParent);
    m_waiting->setObjectName(QStringLiteral("WorklistWaitDialog"));
    m_waiting->setAttribute(Qt::WA_DeleteOnClose);
    m_waiting->setWindowTitle(m_text(QStringLiteral("Worklist.Caption")));
    auto *layout = new QVBoxLayout(m_waiting);
    layout->addWidget(new QLabel(m_text(QStringLiteral("Worklist.Waiting")), m_waiting));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, m_waiting);
    buttons->button(QDialogButtonBox::Cancel)->setText(m_text(QStringLiteral("Cancel.Caption")));
    layout->addWidget(buttons);
    // Cancel, Escape and the title bar's close all reject.
    connect(buttons, &QDialogButtonBox::rejected, m_waiting, &QDialog::reject);
    connect(m_waiting, &QDialog::rejected, this, &WorklistChoice::cancelQuery);
    m_waiting->setModal(true);
    m_waiting->show();
    thread->start();
}

void WorklistChoice::cancelQuery()
{
    if (!m_query)
        return;
    m_query->cancel.cancel();
    m_query.reset();
    if (m_waiting) {
        QDialog *waiting = std::exchange(m_waiting, nullptr);
        waiting->close();
    }
    // The keyboard goes back to the window at once (a window manager would do so too).
    if (m_dialogParent)
        m_dialogParent->activateWindow();
}

void WorklistChoice::answered(const std::shared_ptr<Query> &query)
{
    m_query.reset();
    if (m_waiting) {
        QDialog *waiting = std::exchange(m_waiting, nullptr);
        waiting->disconnect(this); // closing it now is no cancel
        waiting->close();
    }
    if (!query->error.isEmpty()) {
        Dialogs::show(Dialogs::Kind::Error, m_text(QStringLiteral("Worklist.Caption")), query->error, m_dialogParent);
        return;
    }
    if (query->items.isEmpty()) {
        m_showMessage(QStringLiteral("Msg_worklist_empty"));
        return;
    }
    const int chosen = chooseItem(query->items);
    if (chosen >= 0)
        takeItem(query->items.at(chosen), query->today);
}

int WorklistChoice::chooseItem(const QList<WorklistItem> &items)
{
    QDialog dialog(m_dialogParent);
    dialog.setObjectName(QStringLiteral("WorklistDialog"));
    dialog.setWindowTitle(m_text(QStringLiteral("Worklist.Caption")));
    auto *table = new QTableWidget(int(items.size()), 6, &dialog);
    table->setObjectName(QStringLiteral("worklistTable"));
    table->setHorizontalHeaderLabels(m_text(QStringLiteral("Worklist.Columns")).split(u'|'));
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->hide();
    for (int row = 0; row < items.size(); ++row) {
        const WorklistItem &item = items.at(row);
        const QStringList cells = {item.time,
                                   item.patientId,
                                   item.patientName,
                                   item.sex,
                                   item.birthDate.isValid() ? item.birthDate.toString(Qt::ISODate) : QString(),
                                   item.procedure};
        for (int column = 0; column < cells.size(); ++column)
            table->setItem(row, column, new QTableWidgetItem(cells.at(column)));
    }
    table->resizeColumnsToContents();
    table->selectRow(0);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->button(QDialogButtonBox::Ok)->setText(m_text(QStringLiteral("OK.Caption")));
    buttons->button(QDialogButtonBox::Cancel)->setText(m_text(QStringLiteral("Cancel.Caption")));
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    connect(table, &QTableWidget::cellDoubleClicked, &dialog, &QDialog::accept);
    auto *layout = new QVBoxLayout(&dialog);
    layout->addWidget(table);
    layout->addWidget(buttons);
    dialog.resize(640, 320);
    if (Dialogs::exec(dialog) != QDialog::Accepted)
        return -1;
    return table->currentRow();
}

void WorklistChoice::takeItem(const WorklistItem &item, const QDate &today)
{
    const PatientControls &p = m_lookup.controls();
    // The sex box offers male first, then female, in whichever language it shows.
    QString sex;
    if (item.sex == u"M" && p.cbSex->count() > 0)
        sex = p.cbSex->itemText(0);
    else if (item.sex == u"F" && p.cbSex->count() > 1)
        sex = p.cbSex->itemText(1);
    const QString age = item.ageOn(today);
    {
        // Written as one patient: no look-up may run between the fields.
        PatientHandlersDetached quiet(m_lookup);
        p.edtNumber->setText(item.patientId);
        p.edtName->setText(item.patientName);
        ControlText::setComboText(p.cbSex, sex);
        p.edtAge->setText(age);
        p.edtTel->clear();
        p.edtAddr->clear();
    }
    if (m_cbTitle && Text::trimmed(ControlText::comboText(m_cbTitle)).isEmpty() && !item.procedure.isEmpty())
        ControlText::setComboText(m_cbTitle, item.procedure);
    m_sheet.setWorklistOrder(item.patientId, item.order);
    Audit::record(Audit::Event::PatientOpened, item.patientId);
}
