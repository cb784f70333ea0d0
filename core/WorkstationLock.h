#pragma once

#include <QLockFile>
#include <QString>

// One workstation per program folder: a lock file (examstation.lock) held while the window
// runs. A lock left by a process that no longer runs (a crash, kill -9) is taken over; a lock
// held by a running process is only read. Window thread only.
class WorkstationLock {
public:
    enum class Claim {
        Claimed, // this process now holds the folder
        Running, // a running workstation holds it; no file was written
        Refused, // the lock file may not be written or read here (permissions): not a second start
    };

    // folder ends in "/".
    explicit WorkstationLock(const QString &folder);

    Claim tryClaim();

private:
    QString m_path;
    QLockFile m_lock;
};
