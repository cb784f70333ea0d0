#include "core/WorkstationLock.h"

#include <QFileInfo>

WorkstationLock::WorkstationLock(const QString &folder)
    : m_path(folder + QStringLiteral("examstation.lock"))
    , m_lock(m_path)
{
    // Only a dead holder makes the lock stale, however long a workstation has been running.
    m_lock.setStaleLockTime(0);
}

WorkstationLock::Claim WorkstationLock::tryClaim()
{
    if (m_lock.isLocked() || m_lock.tryLock(0))
        return Claim::Claimed;
    // Only a lock file that another process holds and this user can read is a running
    // workstation; a folder that may not be written, or another user's lock file that may not
    // be read, is a setup fault to name.
    if (m_lock.error() != QLockFile::LockFailedError)
        return Claim::Refused;
    return QFileInfo(m_path).isReadable() ? Claim::Running : Claim::Refused;
}
