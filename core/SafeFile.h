#pragma once

#include <QByteArray>
#include <QString>

// Reading and writing whole files so that nothing is ever lost half-way: settings files and
// snapshot pictures alike. Any thread.
namespace SafeFile {

// The largest settings, language, logo, template or picture file read: a file beyond it is
// refused rather than read whole into memory.
constexpr qint64 kMaxReadBytes = qint64(64) * 1024 * 1024;

// The whole file; a missing file reads as no bytes. Returns false (with *reason) only when
// the file exists and cannot be read, so callers never mistake it for an empty one. Only a
// regular file (or a link to one) of at most kMaxReadBytes is read: a pipe, a device or a
// folder is refused without being read, so it can neither block nor fill the memory.
bool readFile(const QString &path, QByteArray *bytes, QString *reason);

// Writes the bytes to a temporary file beside the target, syncs it and renames it over the
// target, so a crash, a kill or a full disk leaves the old file or the new one, never a torn
// one. Returns false with the platform's reason when the file cannot be written, and when an
// existing target may not be written by this user (a rename would replace it all the same).
bool saveWhole(const QString &path, const QByteArray &bytes, QString *reason);

// Removes the temporary files that saveWhole leaves beside the file when the process dies
// mid-write; only names of exactly its form (file name, ".tmp", 8 hexadecimal digits).
void removeLeftovers(const QString &path);

// The same for every file of a folder (the pictures of images/), at start-up.
void removeLeftoversIn(const QString &folder);

// Whether a file name has the form of saveWhole's temporary files: never a whole file.
bool isLeftover(const QString &fileName);

// Puts the folder's entries (a renamed or new file) on disk.
void syncFolder(const QString &folder);

} // namespace SafeFile
