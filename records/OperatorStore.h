#pragma once

#include <QList>
#include <QString>

#include <optional>

class Database;

// One operator account as stored in t_operators.
struct OperatorAccount {
    QString login;
    QString displayName;
    QString role; // "operator" or "administrator"
    QString passwordHash; // never logged or shown
    bool disabled = false;
    QString lastLogin; // UTC, ISO with milliseconds, or empty
};

// The statements of the operator accounts. Any thread, on that thread's own Database.
namespace OperatorStore {

// Throws AppError when the login is taken.
void add(Database &db, const OperatorAccount &account);
std::optional<OperatorAccount> find(Database &db, const QString &login);
QList<OperatorAccount> list(Database &db);
int count(Database &db);
// Each returns false when there is no such login.
bool setPasswordHash(Database &db, const QString &login, const QString &hash);
bool setDisabled(Database &db, const QString &login, bool disabled);
void setLastLogin(Database &db, const QString &login, const QString &at);

} // namespace OperatorStore
