#include "core/WorkstationLock.h"

WorkstationLock::WorkstationLock(const QString &folder)
    : m_lock(folder + QStringLiteral("examstation.lock"))
{
    // Only a dead holder makes the lock stale, however long a workstation has been running.
    m_lock.setStaleLockTime(0);
}

bool WorkstationLock::tryClaim()
{
    return m_lock.isLocked() || m_lock.tryLock(0);
}
