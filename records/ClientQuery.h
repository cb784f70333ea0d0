#pragma once

#include "records/Statements.h"

#include <QAbstractTableModel>
#include <QList>
#include <QStringList>

class Database;

// `clientQuery`: the result of the last name or telephone search (statement 4 or 5), at most
// ten patients, which feeds the patient grid `clientGrid`. It keeps its rows until the next
// search replaces them. Window thread only.
class ClientQuery : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit ClientQuery(QObject *parent = nullptr);

    // Runs the search and replaces the rows; throws AppError when it fails (rows then empty).
    void open(const Database &db, Statements::SearchField field, const QString &typed);
    void clear();
    // Replaces the rows with a search's answer read elsewhere (the look-up thread).
    void setRows(QList<QStringList> rows);
    int RecordCount() const { return int(m_rows.size()); }

    // The column's text in a row, by column name (client_id, client_name, ...).
    QString value(int row, const QString &column) const;

    void setTitles(const QStringList &titles);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QList<QStringList> m_rows;
    QStringList m_titles;
};
