#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// A whole copy of a program folder, taken while a workstation may be saving: the database
// through SQLite's online backup on a connection of its own (one consistent state, whatever
// is committed meanwhile), then images/ (every picture a copied record names was written
// before its record was committed), config.ini, system.ini, data/1.fr3 and, when asked,
// video/. The copy is checked afterwards. Any thread; no window.
namespace Backup {

struct Result {
    QString folder; // the dated folder written
    QStringList written; // one line per part, for the report
};

// How many of the files to copy are copied, of how many.
using Progress = std::function<void(qsizetype done, qsizetype total)>;

// Writes <target>/examstation-<date>-<time>/ and checks it. Throws AppError, naming the
// part, when anything cannot be read or written or the check finds the copy not whole. The
// temporary files of a save a crash cut short (SafeFile::isLeftover) are not copied.
Result take(const QString &programFolder, const QString &target, bool withVideo, const Progress &progress = {});

// The faults of a copied program folder: the database's integrity_check, and every picture
// its records name missing from images/. Empty when the copy is whole.
QStringList check(const QString &copyFolder);

} // namespace Backup
