#include "capture/untmmStringlist.h"

qint64 TmmStringlist::areaOf(const QString &entry)
{
    const qsizetype separator = entry.indexOf(u'_');
    return QStringView(entry).left(separator < 0 ? entry.size() : separator).toLongLong();
}

qint64 TmmStringlist::compareEntries(const QString &first, const QString &second)
{
    return areaOf(first) - areaOf(second);
}

bool TmmStringlist::add(const QString &entry)
{
    // Binary search for the first entry not smaller than the new one.
    qsizetype low = 0;
    qsizetype high = m_entries.size();
    while (low < high) {
        const qsizetype middle = (low + high) / 2;
        if (compareEntries(m_entries[middle], entry) < 0)
            low = middle + 1;
        else
            high = middle;
    }
    if (low < m_entries.size() && compareEntries(m_entries[low], entry) == 0)
        return false;
    m_entries.insert(low, entry);
    return true;
}
