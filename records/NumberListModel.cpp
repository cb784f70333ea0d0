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
    beginResetModel();
    m_db = &db;
    m_typed = typed;
    m_numbers.clear();
    m_lastKey.clear();
    m_lastRow = -1;
    m_complete = true;
    try {
        Statements::NumberPage page = Statements::numbersStartingWith(db, typed, kFirstPage);
        m_numbers = std::move(page.numbers);
        m_lastKey = page.lastKey;
        m_lastRow = page.lastRow;
        m_complete = page.complete;
    } catch (...) {
        m_changing = true;
        endResetModel();
        m_changing = false;
        throw;
    }
    m_changing = true;
    endResetModel();
    m_changing = false;
}

void NumberListModel::show(const Database &db, const QString &typed, const Statements::NumberPage &page)
{
    beginResetModel();
    m_db = &db;
    m_typed = typed;
    m_numbers = page.numbers;
    m_lastKey = page.lastKey;
    m_lastRow = page.lastRow;
    m_complete = page.complete;
    m_changing = true;
    endResetModel();
    m_changing = false;
}

void NumberListModel::clear()
{
    beginResetModel();
    m_numbers.clear();
    m_complete = true;
    m_db = nullptr;
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
    return !parent.isValid() && !m_complete && m_db && !m_changing;
}

void NumberListModel::fetchMore(const QModelIndex &parent)
{
    if (!canFetchMore(parent))
        return;
    Statements::NumberPage page;
    try {
        page = Statements::numbersStartingWith(*m_db, m_typed, kPage, m_lastKey, m_lastRow);
    } catch (const std::exception &failure) {
        // The view asks for more while it lays out or paints, where no box can be shown; the
        // list simply ends here and the next keystroke searches afresh.
        qCWarning(lcRecords) << "the number list ends early:" << failure.what();
        m_complete = true;
        return;
    }
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
