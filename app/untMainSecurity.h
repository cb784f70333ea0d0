#pragma once

#include "records/DatabaseThread.h"
#include "records/OperatorStore.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class Database;
class LockScreen;

struct WindowSecurityHooks {
    std::function<QString(const QString &key)> text;
    // Asks whether to discard the unsaved sheet; clears it when yes.
    std::function<bool()> discardSheet;
    // Whether the operator logged in may delete (an administrator).
    std::function<void(bool mayDelete)> applyRole;
    // Runs the password check where the window's other statements run (a database thread on a
    // server).
    DatabaseRunner runner;
};

// The window's side of [security] login=1: the login screen before any patient data, the lock
// after lock_minutes without input and on Ctrl+L, the roles of whoever logged in. Made by
// TfrmMain only when login is on. Window thread only.
class WindowSecurity : public QObject {
public:
    WindowSecurity(QWidget *window, int lockMinutes, WindowSecurityHooks hooks);
    ~WindowSecurity() override;

    void lock();
    std::optional<OperatorAccount> current() const { return m_current; }
    LockScreen &screen() { return *m_screen; }
    void setIdleTimeout(int milliseconds);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void loggedIn(const OperatorAccount &account, bool unlocking);

    QWidget *m_window;
    WindowSecurityHooks m_hooks;
    LockScreen *m_screen;
    QTimer m_idle;
    std::optional<OperatorAccount> m_current;
    // Top-level windows (the report preview) hidden by the lock, shown again at the unlock.
    QList<QPointer<QWidget>> m_hidden;
};
