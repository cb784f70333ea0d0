#pragma once

#include <QLockFile>
#include <QString>

// One workstation per program folder: a lock file (examstation.lock) held while the window
// runs. A lock left by a process that no longer runs (a crash, kill -9) is taken over; a lock
// held by a running process is only read. Window thread only.
class WorkstationLock {
public:
    // folder ends in "/".
    explicit WorkstationLock(const QString &folder);

    // True when this process now holds the folder; false when a running workstation holds it,
    // and then no file was written.
    bool tryClaim();

private:
    QLockFile m_lock;
};
