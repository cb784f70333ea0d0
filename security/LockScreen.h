#pragma once

#include "records/OperatorStore.h"
#include "security/LoginThrottle.h"

#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;

struct LockScreenHooks {
    // A text of the language file (section [main]); empty before the language is applied.
    std::function<QString(const QString &key)> text;
    // Checks the password, now or later (on the database's thread), and answers on the window's
    // thread: the account when the password is right and the account enabled (the event is
    // recorded); `checked` is false when the check could not be made (the server away).
    using Answer = std::function<void(std::optional<OperatorAccount> account, bool checked)>;
    std::function<void(const QString &login, const QString &password, bool unlocking, Answer answer)> authenticate;
    // "Another operator": asks whether to discard the unsaved sheet and clears it; false keeps
    // the lock for the operator who locked.
    std::function<bool()> discardSheet;
    // Someone logged in: the one who locked (unlocking) or another.
    std::function<void(const OperatorAccount &account, bool unlocking)> loggedIn;
};

// The login and lock screen: covers the whole window it is a child of, opaque, so nothing of a
// patient and no live picture shows while it is up; the window underneath stays as it is.
// Wrong passwords are answered after a growing wait per name (LoginThrottle); a disabled account
// gets the same answer as a wrong password. Window thread only.
class LockScreen : public QWidget {
public:
    LockScreen(QWidget *window, LockScreenHooks hooks);

    // Nobody is logged in: name and password.
    void showLogin();
    // Locked for this operator: only the password, or "another operator".
    void lock(const QString &login);
    bool isUp() const { return isVisible(); }
    void setClock(LoginThrottle::Clock clock) { m_throttle.setClock(std::move(clock)); }
    void retranslate();

    QLineEdit *nameField() const { return m_name; }
    QLineEdit *passwordField() const { return m_password; }
    QPushButton *loginButton() const { return m_login; }
    QPushButton *otherButton() const { return m_other; }
    QLabel *messageLabel() const { return m_message; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Covers the window with the fields emptied, the texts of the language shown, `focus` focused.
    void cover(QWidget *focus);
    void attempt();
    void answered(const QString &login, bool unlocking, const std::optional<OperatorAccount> &account, bool checked);
    // While a password is being checked the screen takes no other attempt.
    void setChecking(bool on);
    void anotherOperator();
    QString text(const QString &key, const QString &builtIn) const;

    LockScreenHooks m_hooks;
    LoginThrottle m_throttle;
    QString m_lockedFor; // empty: the login, not a lock
    QLabel *m_title;
    QLabel *m_nameCaption;
    QLineEdit *m_name;
    QLabel *m_passwordCaption;
    QLineEdit *m_password;
    QLabel *m_message;
    QPushButton *m_login;
    QPushButton *m_other;
};
