#pragma once

#include <QHash>
#include <QString>

#include <functional>

// The growing wait after wrong passwords, per login name: 1 s after the first, then 2, 4, 8 …
// up to 30 s, until a right one. The clock is handed in, so tests move it instead of sleeping.
// Window thread only.
class LoginThrottle {
public:
    using Clock = std::function<qint64()>; // milliseconds

    explicit LoginThrottle(Clock clock);
    void setClock(Clock clock) { m_clock = std::move(clock); }

    // Milliseconds left before the next attempt for this name is answered; 0 when it may go.
    qint64 waitLeft(const QString &login) const;
    void failed(const QString &login);
    void succeeded(const QString &login);

private:
    struct Failures {
        int count = 0;
        qint64 nextAttempt = 0;
    };
    Clock m_clock;
    QHash<QString, Failures> m_failures;
};
