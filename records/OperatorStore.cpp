#include "records/OperatorStore.h"

#include "core/AppError.h"
#include "records/Database.h"

#include <QSqlQuery>

namespace OperatorStore {
namespace {

const QString kColumns = QStringLiteral("login, display_name, role, password_hash, disabled, last_login");

OperatorAccount accountAt(const QSqlQuery &query)
{
    return OperatorAccount{.login = query.value(0).toString(),
                           .displayName = query.value(1).toString(),
                           .role = query.value(2).toString(),
                           .passwordHash = query.value(3).toString(),
                           .disabled = query.value(4).toInt() != 0,
                           .lastLogin = query.value(5).toString()};
}

int changed(QSqlQuery &query)
{
    const int rows = query.numRowsAffected();
    query.finish();
    return rows;
}

} // namespace

void add(Database &db, const OperatorAccount &account)
{
    if (find(db, account.login))
        throw AppError(QStringLiteral("There is already an operator named \"%1\".").arg(account.login));
    db.run(QStringLiteral("insert into t_operators (") + kColumns
               + QStringLiteral(") values (:k_login, :k_name, :k_role, :k_hash, :k_disabled, null)"),
           {{":k_login", account.login},
            {":k_name", account.displayName},
            {":k_role", account.role},
            {":k_hash", account.passwordHash},
            {":k_disabled", account.disabled ? 1 : 0}});
}

std::optional<OperatorAccount> find(Database &db, const QString &login)
{
    QSqlQuery query =
        db.run(QStringLiteral("select ") + kColumns + QStringLiteral(" from t_operators where login = :k_login"),
               {{":k_login", login}});
    std::optional<OperatorAccount> account;
    if (query.next())
        account = accountAt(query);
    query.finish();
    return account;
}

QList<OperatorAccount> list(Database &db)
{
    QSqlQuery query =
        db.run(QStringLiteral("select ") + kColumns + QStringLiteral(" from t_operators order by login"), {});
    QList<OperatorAccount> accounts;
    while (query.next())
        accounts.append(accountAt(query));
    query.finish();
    return accounts;
}

int count(Database &db)
{
    QSqlQuery query = db.run(QStringLiteral("select count(*) from t_operators"), {});
    const int n = query.next() ? query.value(0).toInt() : 0;
    query.finish();
    return n;
}

bool setPasswordHash(Database &db, const QString &login, const QString &hash)
{
    QSqlQuery query = db.run(QStringLiteral("update t_operators set password_hash = :k_hash where login = :k_login"),
                             {{":k_hash", hash}, {":k_login", login}});
    return changed(query) > 0;
}

bool setDisabled(Database &db, const QString &login, bool disabled)
{
    QSqlQuery query = db.run(QStringLiteral("update t_operators set disabled = :k_disabled where login = :k_login"),
                             {{":k_disabled", disabled ? 1 : 0}, {":k_login", login}});
    return changed(query) > 0;
}

void setLastLogin(Database &db, const QString &login, const QString &at)
{
    db.run(QStringLiteral("update t_operators set last_login = :k_at where login = :k_login"),
           {{":k_at", at}, {":k_login", login}});
}

} // namespace OperatorStore
