#include "security/LoginThrottle.h"

#include <algorithm>

LoginThrottle::LoginThrottle(Clock clock)
    : m_clock(std::move(clock))
{
}

qint64 LoginThrottle::waitLeft(const QString &login) const
{
    const auto found = m_failures.constFind(login.trimmed().toLower());
    return found == m_failures.cend() ? 0 : std::max<qint64>(0, found->nextAttempt - m_clock());
}

void LoginThrottle::failed(const QString &login)
{
    Failures &failures = m_failures[login.trimmed().toLower()];
    failures.count = std::min(failures.count + 1, 6);
    const qint64 seconds = std::min<qint64>(30, qint64(1) << (failures.count - 1));
    failures.nextAttempt = m_clock() + seconds * 1000;
}

void LoginThrottle::succeeded(const QString &login)
{
    m_failures.remove(login.trimmed().toLower());
}
