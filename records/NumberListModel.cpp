#include "records/NumberListModel.h"

#include "records/Logging.h"
#include "records/Statements.h"

#include <QSize>

#include <exception>

NumberListModel::NumberListModel(QObject *parent)
    : QAbstractListModel(parent)
{
}

void NumberListModel::search(const Database &db, const QString &typed)
{
    Statements::NumberPage first;
    try {
        first = Statements::numbersStartingWith(db, typed, kFirstPage);
    } catch (...) {
        clear();
        throw;
    }
    reset(
        [&db](const QString &typed, const QString &afterKey, qint64 afterRow, const PageAnswer &answer) {
            try {
                answer(Statements::numbersStartingWith(db, typed, kPage, afterKey, afterRow));
            } catch (const std::exception &failure) {
                qCWarning(lcRecords) << "the number list ends early:" << failure.what();
                answer(std::nullopt);
            }
        },
        typed, first);
}

void NumberListModel::show(PageReader reader, const QString &typed, const Statements::NumberPage &page)
{
    reset(std::move(reader), typed, page);
}

void NumberListModel::clear()
{
    reset({}, QString(), Statements::NumberPage{.complete = true});
}

void NumberListModel::reset(PageReader reader, const QString &typed, const Statements::NumberPage &page)
{
    beginResetModel();
    ++m_generation;
    m_reading = false;
    m_reader = std::move(reader);
    m_typed = typed;
    m_numbers = page.numbers;
    m_lastKey = page.lastKey;
    m_lastRow = page.lastRow;
    m_complete = page.complete || !m_reader;
    m_changing = true;
    endResetModel();
    m_changing = false;
}

int NumberListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_numbers.size());
}

QVariant NumberListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return m_numbers.at(index.row());
    case Qt::SizeHintRole:
        return QSize(0, kItemHeight);
    default:
        return {};
    }
}

bool NumberListModel::canFetchMore(const QModelIndex &parent) const
{
    // A view asks for more while it handles our own reset or insertion; inserting rows before
    // every other receiver has seen that change would confuse them. It asks again on scrolling.
    return !parent.isValid() && !m_complete && !m_reading && !m_changing;
}

void NumberListModel::fetchMore(const QModelIndex &parent)
{
    if (!canFetchMore(parent))
        return;
    m_reading = true;
    // The view asks for more while it lays out or paints, where no box can be shown: a page
    // that cannot be read ends the list there, and the next keystroke searches afresh.
    m_reader(m_typed, m_lastKey, m_lastRow,
             [this, generation = m_generation](std::optional<Statements::NumberPage> page) {
                 if (generation != m_generation)
                     return;
                 m_reading = false;
                 if (!page) {
                     m_complete = true;
                     return;
                 }
                 append(*page);
             });
}

void NumberListModel::append(const Statements::NumberPage &page)
{
    m_lastKey = page.lastKey;
    m_lastRow = page.lastRow;
    m_complete = page.complete;
    if (page.numbers.isEmpty())
        return;
    const int first = int(m_numbers.size());
    m_changing = true;
    beginInsertRows(QModelIndex(), first, first + int(page.numbers.size()) - 1);
    m_numbers.append(page.numbers);
    endInsertRows();
    m_changing = false;
}

void NumberListModel::fetchAll()
{
    while (canFetchMore(QModelIndex()))
        fetchMore(QModelIndex());
}
