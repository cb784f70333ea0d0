#pragma once

#include <QString>

// Keeps the program folder's patients' data to the account that runs the workstation: folders
// 0700 and files 0600, or 0770 and 0660 when the program folder carries the set-group-ID bit (a
// clinic's folder shared by the desktop accounts of its group). Main thread, at start.
namespace PrivateFiles {

struct Modes {
    unsigned folder;
    unsigned file;
    unsigned mask; // the process's file mode creation mask
};
// The modes for this program folder (private when it does not exist yet).
Modes modesFor(const QString &programFolder);

// Sets the process's creation mask from the program folder's modes, so that everything the
// program creates from now on (database, pictures, videos, log, backups) is private.
void useModesOf(const QString &programFolder);

// Gives the program folder, its settings and logs, and everything under data/, images/, video/
// and temp/ the modes; returns how many entries it changed. Executables and the shipped lang/
// files beside them are left as they are.
int tighten(const QString &programFolder);

} // namespace PrivateFiles
