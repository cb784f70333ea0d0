#pragma once

#include "records/Statements.h"

#include <QAbstractListModel>
#include <QStringList>

#include <functional>
#include <optional>

class Database;

// The entries of `lstNumber`: every patient number starting with the typed text (statement 2),
// read page by page as the list scrolls, so a prefix matching most of the table costs no
// more than one page. Window thread only.
class NumberListModel : public QAbstractListModel {
    Q_OBJECT
public:
    static constexpr int kItemHeight = 16;
    static constexpr int kFirstPage = 64;
    static constexpr int kPage = 512;

    explicit NumberListModel(QObject *parent = nullptr);

    // Replaces the entries with the first page for `typed`; throws AppError when the
    // statement fails (the list is then empty).
    void search(const Database &db, const QString &typed);
    // Reads the page after (afterKey, afterRow) and answers it, now or later on the caller's
    // thread; no page means the statement failed.
    using PageAnswer = std::function<void(std::optional<Statements::NumberPage>)>;
    using PageReader =
        std::function<void(const QString &typed, const QString &afterKey, qint64 afterRow, PageAnswer answer)>;
    // Replaces the entries with a first page for `typed` read elsewhere (the look-up thread);
    // later pages come from `reader`. While one is being read the list asks for no other.
    void show(PageReader reader, const QString &typed, const Statements::NumberPage &page);
    void clear();

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;

    QString number(int row) const { return m_numbers.value(row); }
    // Reads every remaining page that is read on the caller's thread (tests and callers that
    // need the full list).
    void fetchAll();

private:
    void reset(PageReader reader, const QString &typed, const Statements::NumberPage &page);
    void append(const Statements::NumberPage &page);

    PageReader m_reader;
    quint64 m_generation = 0; // counts the resets: a page read for an earlier one is dropped
    bool m_reading = false;
    QString m_typed;
    QStringList m_numbers;
    QString m_lastKey;
    qint64 m_lastRow = -1;
    bool m_complete = true;
    bool m_changing = false;
};
