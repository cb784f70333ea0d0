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

} // namespace ProgramFolder
