#pragma once

#include <QString>

// The program's folder, from which every path of the system is built: the executable's
// folder unless the command line named another with --home.
namespace ProgramFolder {

// Sets the folder; the stored path always ends in "/".
void set(const QString &folder);

// The folder, ending in "/".
QString path();

// path() + relative, e.g. file("data/data.db").
QString file(const QString &relative);

// Which folder a start uses: `home` when the command line named one; otherwise the executable's
// folder when it holds lang/ (a portable copy); otherwise, for an installed copy whose
// executable's folder is not writable, the user's data folder ($XDG_DATA_HOME/examstation).
QString locate(const QString &home, const QString &executableFolder);

// Gives a folder what it lacks of the shipped files: lang/*.ini and data/1.fr3 from the
// installed share folder (<executable>/../share/examstation). Files already there are never
// replaced, so a clinic's own copies stay. Creates the folder when missing.
void furnish(const QString &folder, const QString &executableFolder);

} // namespace ProgramFolder
