#pragma once

#include <QByteArray>
#include <QString>

// Reading and writing whole files so that nothing is ever lost half-way: settings files and
// snapshot pictures alike. Any thread.
namespace SafeFile {

// The whole file; a missing file reads as no bytes. Returns false (with *reason) only when
// the file exists and cannot be read, so callers never mistake it for an empty one.
bool readFile(const QString &path, QByteArray *bytes, QString *reason);

// Writes the bytes to a temporary file beside the target, syncs it and renames it over the
// target, so a crash, a kill or a full disk leaves the old file or the new one, never a torn
// one. Returns false with the platform's reason when the file cannot be written.
bool saveWhole(const QString &path, const QByteArray &bytes, QString *reason);

// Puts the folder's entries (a renamed or new file) on disk.
void syncFolder(const QString &folder);

} // namespace SafeFile
