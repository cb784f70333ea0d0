#include "records/RecordSet.h"

#include "core/AppError.h"
#include "records/Database.h"
#include "records/DeletionJournal.h"
#include "records/PatientText.h"
#include "records/Statements.h"

#include <QSqlQuery>

void RecordSet::open(const Database &db, const QString &number)
{
    close();
    QSqlQuery query = db.run(QString::fromLatin1(Statements::kText[10]), {{":c_id", PatientText::key(number)}});
    QList<QSqlRecord> rows;
    while (query.next())
        rows.append(query.record());
    m_rows = std::move(rows);
    m_open = true;
    m_position = m_rows.isEmpty() ? -1 : 0;
}

void RecordSet::close()
{
    m_rows.clear();
    m_position = -1;
    m_open = false;
}

void RecordSet::First()
{
    m_position = m_rows.isEmpty() ? -1 : 0;
}

void RecordSet::Last()
{
    m_position = int(m_rows.size()) - 1;
}

void RecordSet::Next()
{
    if (m_position < m_rows.size())
        ++m_position;
}

void RecordSet::Prior()
{
    if (m_position >= 0)
        --m_position;
}

const QSqlRecord &RecordSet::current() const
{
    if (Bof() || Eof())
        throw AppError(QStringLiteral("Either BOF or EOF is True, or the current record has been deleted. "
                                      "Requested operation requires a current record."));
    return m_rows.at(m_position);
}

QVariant RecordSet::value(const QString &column) const
{
    const QSqlRecord &row = current();
    const int index = row.indexOf(column);
    if (index < 0)
        throw AppError(QStringLiteral("Item cannot be found in the collection corresponding to the requested "
                                      "name or ordinal: %1")
                           .arg(column));
    return row.value(index);
}

QString RecordSet::asString(const QString &column) const
{
    return value(column).toString();
}

qint64 RecordSet::asInteger(const QString &column) const
{
    return value(column).toLongLong();
}

double RecordSet::asFloat(const QString &column) const
{
    return value(column).toDouble();
}

bool RecordSet::asBoolean(const QString &column) const
{
    const QVariant v = value(column);
    if (v.typeId() == QMetaType::QString) {
        const QString text = v.toString().trimmed().toLower();
        return text == u"true" || text == u"yes" || text.toLongLong() != 0;
    }
    return v.toLongLong() != 0;
}

QDateTime RecordSet::asDateTime(const QString &column) const
{
    const QVariant v = value(column);
    const QString text = v.toString();
    QDateTime moment = QDateTime::fromString(text, Statements::kTimeFormat);
    if (!moment.isValid())
        moment = QDateTime::fromString(text, Qt::ISODate);
    return moment;
}

qint64 RecordSet::Delete(const Database &db)
{
    const qint64 id = current().value(QStringLiteral("ID")).toLongLong();
    const qint64 journalId = DeletionJournal::deleteRecord(db, id);
    m_rows.removeAt(m_position);
    if (m_rows.isEmpty())
        m_position = -1;
    else if (m_position >= m_rows.size())
        m_position = int(m_rows.size()) - 1;
    return journalId;
}
