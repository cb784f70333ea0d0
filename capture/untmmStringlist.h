#pragma once

#include <QString>
#include <QStringList>

// The resolution catalogue's list: a sorted string list of "area_WxH_index" entries ordered by
// the area before the first "_". Two entries of equal area count as equal, so the first media
// type of each pixel count stands for it and later ones are not added. Window thread only.
class TmmStringlist {
public:
    // Area minus area; the integer before the first "_" of each entry.
    static qint64 compareEntries(const QString &first, const QString &second);
    static qint64 areaOf(const QString &entry);

    // Adds the entry at its sorted place. Returns false (and changes nothing) when an entry of
    // the same area is already there.
    bool add(const QString &entry);
    void clear() { m_entries.clear(); }

    int count() const { return int(m_entries.size()); }
    bool isEmpty() const { return m_entries.isEmpty(); }
    const QString &operator[](int index) const { return m_entries[index]; }
    const QStringList &entries() const { return m_entries; }

private:
    QStringList m_entries;
};
