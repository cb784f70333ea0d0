#include "exam/WorklistChoice.h"

#include "core/ControlText.h"
#include "core/Dialogs.h"
#include "core/ErrorDisplay.h"
#include "core/TrimmedText.h"
#include "exam/ExaminationSheet.h"
#include "records/PatientLookup.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTableWidget>
#include <QVBoxLayout>

#include <chrono>
#include <future>

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

void WorklistChoice::edtNumberF2()
{
    const QDate today = QDate::currentDate();
    // The query waits for the network on a thread of its own; the window keeps painting but
    // takes no input until the answer is there (bounded by the worklist's timeouts).
    std::future<QList<WorklistItem>> answer =
        std::async(std::launch::async, [peer = m_worklist, today] { return WorklistClient::query(peer, today); });
    while (answer.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    QList<WorklistItem> items;
    try {
        items = answer.get();
    } catch (const AppError &error) {
        Dialogs::show(Dialogs::Kind::Error, m_text(QStringLiteral("Worklist.Caption")), error.message(),
                      m_dialogParent);
        return;
    }
    if (items.isEmpty()) {
        m_showMessage(QStringLiteral("Msg_worklist_empty"));
        return;
    }
    const int chosen = chooseItem(items);
    if (chosen >= 0)
        takeItem(items.at(chosen), today);
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
    m_sheet.setAccessionNumber(item.patientId, item.accessionNumber);
}
