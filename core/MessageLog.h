#pragma once

#include <QString>

// The program's log: every warning, error and fatal message (qWarning, qCWarning, ...) also goes,
// with a time stamp and its logging category, to examstation.log in the program's folder, while
// standard error keeps receiving everything as before. The file is bounded: past kLimit bytes it
// is renamed to examstation.log.1 (.1 to .2, ...) and kKept old files are kept. Messages come
// from any thread. Patient names and telephone numbers are never put into a message; numbers may.
namespace MessageLog {

constexpr qint64 kLimit = 1024 * 1024;
constexpr int kKept = 3;

// Starts writing to folder/examstation.log (the folder ends in "/").
void install(const QString &folder);
// Stops writing to the file and restores the handler that was there before.
void uninstall();

} // namespace MessageLog
