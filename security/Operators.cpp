#include "security/Operators.h"

#include "core/AppError.h"
#include "core/Audit.h"
#include "core/inifunc.h"
#include "records/Database.h"
#include "security/AuditTrail.h"
#include "security/Logging.h"

#include <QDateTime>

#include <sodium.h>

namespace {

void initialiseSodium()
{
    static const bool ready = sodium_init() >= 0;
    if (!ready)
        throw AppError(QStringLiteral("The password library (libsodium) cannot start."));
}

} // namespace

std::optional<Role> roleNamed(const QString &name)
{
    if (name == u"operator")
        return Role::Operator;
    if (name == u"administrator")
        return Role::Administrator;
    return std::nullopt;
}

QString roleName(Role role)
{
    return role == Role::Administrator ? QStringLiteral("administrator") : QStringLiteral("operator");
}

PasswordLimits PasswordLimits::moderate()
{
    return {crypto_pwhash_OPSLIMIT_MODERATE, crypto_pwhash_MEMLIMIT_MODERATE};
}

PasswordLimits PasswordLimits::least()
{
    return {crypto_pwhash_OPSLIMIT_MIN, crypto_pwhash_MEMLIMIT_MIN};
}

SecuritySettings SecuritySettings::read()
{
    const QString section = QStringLiteral("security");
    SecuritySettings settings;
    settings.login = ReadConfigString(section, QStringLiteral("login"), QString()).trimmed() == u"1";
    bool valid = false;
    const int minutes = ReadConfigString(section, QStringLiteral("lock_minutes"), QString()).trimmed().toInt(&valid);
    if (valid && minutes > 0)
        settings.lockMinutes = minutes;
    return settings;
}

Operators::Operators(Database &db, PasswordLimits limits)
    : m_db(db)
    , m_limits(limits)
{
    initialiseSodium();
}

QString Operators::hash(const QString &password) const
{
    if (password.size() < kShortestPassword)
        throw AppError(QStringLiteral("A password needs at least %1 characters.").arg(kShortestPassword));
    const QByteArray bytes = password.toUtf8();
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(out, bytes.constData(), static_cast<unsigned long long>(bytes.size()), m_limits.operations,
                          m_limits.memory)
        != 0)
        throw AppError(QStringLiteral("Not enough memory to hash the password."));
    return QString::fromLatin1(out);
}

void Operators::add(const QString &login, Role role, const QString &password)
{
    if (login.trimmed().isEmpty() || login.trimmed() != login)
        throw AppError(QStringLiteral("An operator's name may not be empty or begin or end with a blank."));
    OperatorStore::add(m_db,
                       {.login = login, .displayName = login, .role = roleName(role), .passwordHash = hash(password)});
    Audit::record(Audit::Event::AccountChanged);
}

void Operators::setPassword(const QString &login, const QString &password)
{
    if (!OperatorStore::setPasswordHash(m_db, login, hash(password)))
        throw AppError(QStringLiteral("There is no operator named \"%1\".").arg(login));
    Audit::record(Audit::Event::AccountChanged);
}

void Operators::disable(const QString &login)
{
    if (!OperatorStore::setDisabled(m_db, login, true))
        throw AppError(QStringLiteral("There is no operator named \"%1\".").arg(login));
    Audit::record(Audit::Event::AccountChanged);
}

QList<OperatorAccount> Operators::list()
{
    return OperatorStore::list(m_db);
}

int Operators::count()
{
    return OperatorStore::count(m_db);
}

std::optional<OperatorAccount> Operators::authenticate(const QString &login, const QString &password,
                                                       Audit::Event success)
{
    std::optional<OperatorAccount> account = OperatorStore::find(m_db, login);
    const QByteArray bytes = password.toUtf8();
    const bool right = account && !account->disabled
        && crypto_pwhash_str_verify(account->passwordHash.toLatin1().constData(), bytes.constData(),
                                    static_cast<unsigned long long>(bytes.size()))
            == 0;
    if (!right) {
        Audit::record(Audit::Event::LoginFailed, QString(), Audit::Outcome::MinorFailure);
        return std::nullopt;
    }
    if (crypto_pwhash_str_needs_rehash(account->passwordHash.toLatin1().constData(), m_limits.operations,
                                       m_limits.memory)
        != 0) {
        // Made with other limits (older, or changed since): made again now the password is known.
        account->passwordHash = hash(password);
        OperatorStore::setPasswordHash(m_db, login, account->passwordHash);
        qCInfo(lcSecurity) << "password hash of" << login << "made again with the current limits";
    }
    account->lastLogin = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    OperatorStore::setLastLogin(m_db, login, account->lastLogin);
    if (AuditTrail *trail = AuditTrail::current())
        trail->setOperator(login);
    Audit::record(success);
    return account;
}
