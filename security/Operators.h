#pragma once

#include "core/Audit.h"
#include "records/OperatorStore.h"

#include <QString>

#include <cstddef>
#include <optional>

class Database;

enum class Role { Operator, Administrator };
std::optional<Role> roleNamed(const QString &name);
QString roleName(Role role);

// The Argon2id cost of a password hash (libsodium's opslimit and memlimit).
struct PasswordLimits {
    unsigned long long operations;
    std::size_t memory;

    // libsodium's moderate limits: what the workstation uses.
    static PasswordLimits moderate();
    // libsodium's least: for tests, which hash many passwords.
    static PasswordLimits least();
};

// The [security] section of config.ini: login = 1 turns operator accounts on; lock_minutes
// (default 10) without input locks the window. Profile reads.
struct SecuritySettings {
    bool login = false;
    int lockMinutes = 10;

    static SecuritySettings read();
};

// The operator accounts: adding, passwords, disabling, and checking a login. Passwords are
// hashed with Argon2id (libsodium's crypto_pwhash_str); a hash made with other limits is made
// again at the next right password. Every change of an account, every login and every failed
// one goes to the audit trail. Any thread, on that thread's Database.
class Operators {
public:
    explicit Operators(Database &db, PasswordLimits limits = PasswordLimits::moderate());

    // Each throws AppError with a text for the administrator (a taken name, no such account,
    // a password too short).
    void add(const QString &login, Role role, const QString &password);
    void setPassword(const QString &login, const QString &password);
    void disable(const QString &login);

    QList<OperatorAccount> list();
    int count();

    // The account when it exists, is not disabled and the password is right; nothing otherwise,
    // whichever of them failed. Success makes the login the audit trail's operator and records
    // `success` (a login, or an unlock).
    std::optional<OperatorAccount> authenticate(const QString &login, const QString &password,
                                                Audit::Event success = Audit::Event::Login);

    static constexpr int kShortestPassword = 8;

private:
    QString hash(const QString &password) const;

    Database &m_db;
    PasswordLimits m_limits;
};
