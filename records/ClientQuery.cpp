#include "records/ClientQuery.h"

#include "records/Database.h"

ClientQuery::ClientQuery(QObject *parent)
    : QAbstractTableModel(parent)
    , m_titles(Statements::kPatientColumns)
{
}

void ClientQuery::open(const Database &db, Statements::SearchField field, const QString &typed)
{
    QList<QStringList> rows;
    try {
        rows = Statements::searchPatients(db, field, typed);
    } catch (...) {
        clear();
        throw;
    }
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

void ClientQuery::setRows(QList<QStringList> rows)
{
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

void ClientQuery::clear()
{
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

QString ClientQuery::value(int row, const QString &column) const
{
    const int index = int(Statements::kPatientColumns.indexOf(column));
    if (row < 0 || row >= m_rows.size() || index < 0)
        return {};
    return m_rows.at(row).at(index);
}

void ClientQuery::setTitles(const QStringList &titles)
{
    m_titles = titles;
    while (m_titles.size() < Statements::kPatientColumns.size())
        m_titles.append(Statements::kPatientColumns.at(m_titles.size()));
    emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
}

int ClientQuery::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int ClientQuery::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(Statements::kPatientColumns.size());
}

QVariant ClientQuery::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return {};
    return m_rows.at(index.row()).at(index.column());
}

QVariant ClientQuery::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Vertical)
        return section + 1;
    return m_titles.value(section);
}
