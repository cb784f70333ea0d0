#include "app/OperatorJob.h"

#include "core/AppError.h"
#include "records/Database.h"
#include "security/AuditTrail.h"
#include "security/Operators.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

namespace {

const QString kAs = QStringLiteral("as");

// One line: from the terminal without echo, or from standard input as a script gives it.
QString readPassword(const QString &prompt)
{
    const bool terminal = ::isatty(STDIN_FILENO);
    termios before{};
    if (terminal) {
        std::fprintf(stderr, "%s", qPrintable(prompt));
        std::fflush(stderr);
        ::tcgetattr(STDIN_FILENO, &before);
        termios quiet = before;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    std::string line;
    const bool read = static_cast<bool>(std::getline(std::cin, line));
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &before);
        std::fprintf(stderr, "\n");
    }
    if (!read)
        throw AppError(QStringLiteral("No password was given."));
    return QString::fromStdString(line);
}

// A new password: asked twice on a terminal.
QString readNewPassword(const QString &login)
{
    const QString password = readPassword(QStringLiteral("New password for %1: ").arg(login));
    if (::isatty(STDIN_FILENO) && readPassword(QStringLiteral("Once more: ")) != password)
        throw AppError(QStringLiteral("The two passwords differ; nothing was changed."));
    return password;
}

template<typename Work>
CommandLineJob accountJob(const QCommandLineOption &start, QList<QCommandLineOption> more, Work work)
{
    more.prepend(start);
    return CommandLineJob{
        .options = more,
        .run =
            [start, work](const QCommandLineParser &parser) {
                Database db;
                db.open();
                if (!jobByAdministrator(db, parser))
                    return JobExit::kFailed;
                Operators operators(db);
                return work(parser, parser.value(start).trimmed(), operators);
            },
    };
}

} // namespace

bool jobByAdministrator(Database &db, const QCommandLineParser &parser)
{
    if (!SecuritySettings::read().login)
        return true;
    Operators operators(db);
    // The first account may only be an administrator, and needs nobody's leave.
    if (operators.count() == 0 && parser.isSet(QStringLiteral("add-operator"))) {
        if (parser.value(QStringLiteral("role")) == u"administrator")
            return true;
        jobFailed(QStringLiteral("The first account must be an administrator (--role administrator)."));
        return false;
    }
    const QString login = parser.value(kAs).trimmed();
    if (login.isEmpty()) {
        jobFailed(QStringLiteral("Login is on: this job needs an administrator, named with --as NAME."));
        return false;
    }
    const std::optional<OperatorAccount> account =
        operators.authenticate(login, readPassword(QStringLiteral("Password of %1: ").arg(login)));
    if (!account || roleNamed(account->role) != Role::Administrator) {
        jobFailed(QStringLiteral("Refused: %1 is no administrator, or the password is wrong.").arg(login));
        return false;
    }
    if (AuditTrail *trail = AuditTrail::current())
        trail->setOperator(login);
    return true;
}

bool accountsReadyForLogin()
{
    if (!SecuritySettings::read().login)
        return true;
    Database db;
    db.open();
    if (OperatorStore::count(db) > 0)
        return true;
    jobFailed(QStringLiteral("Login is on ([security] login=1 in config.ini) but there is no operator account yet. "
                             "Create the first administrator with: examstation --add-operator NAME --role "
                             "administrator"));
    return false;
}

CommandLineJob addOperatorJob()
{
    const QCommandLineOption add(QStringLiteral("add-operator"),
                                 QStringLiteral("Add an operator account NAME (with --role); its password is read."),
                                 QStringLiteral("NAME"));
    const QCommandLineOption role(QStringLiteral("role"),
                                  QStringLiteral("With --add-operator: operator or administrator."),
                                  QStringLiteral("ROLE"));
    const QCommandLineOption as(kAs,
                                QStringLiteral("With login on: the administrator NAME who runs an account job, "
                                               "--undelete or --backup; the password is read first."),
                                QStringLiteral("NAME"));
    return accountJob(
        add, {role, as}, [role](const QCommandLineParser &parser, const QString &login, Operators &operators) {
            const std::optional<Role> chosen = roleNamed(parser.value(role).trimmed());
            if (!chosen)
                return jobFailed(QStringLiteral("--add-operator needs --role operator or --role administrator."),
                                 JobExit::kCannotRun);
            if (operators.count() == 0 && *chosen != Role::Administrator)
                return jobFailed(QStringLiteral("The first account must be an administrator (--role administrator)."));
            operators.add(login, *chosen, readNewPassword(login));
            jobSays(QStringLiteral("%1 added as %2").arg(login, roleName(*chosen)));
            return JobExit::kDone;
        });
}

CommandLineJob setPasswordJob()
{
    const QCommandLineOption set(QStringLiteral("set-password"),
                                 QStringLiteral("Give the operator NAME a new password, read like --add-operator's."),
                                 QStringLiteral("NAME"));
    return accountJob(set, {}, [](const QCommandLineParser &, const QString &login, Operators &operators) {
        operators.setPassword(login, readNewPassword(login));
        jobSays(QStringLiteral("password of %1 changed").arg(login));
        return JobExit::kDone;
    });
}

CommandLineJob disableOperatorJob()
{
    const QCommandLineOption disable(QStringLiteral("disable-operator"),
                                     QStringLiteral("Disable the operator NAME: that account logs in no more."),
                                     QStringLiteral("NAME"));
    return accountJob(disable, {}, [](const QCommandLineParser &, const QString &login, Operators &operators) {
        operators.disable(login);
        jobSays(QStringLiteral("%1 disabled").arg(login));
        return JobExit::kDone;
    });
}

CommandLineJob operatorsJob()
{
    const QCommandLineOption list(QStringLiteral("operators"),
                                  QStringLiteral("List the operator accounts: name, role, state, last login."));
    return accountJob(list, {}, [](const QCommandLineParser &, const QString &, Operators &operators) {
        for (const OperatorAccount &account : operators.list()) {
            jobSays(QStringList{account.login, account.role,
                                account.disabled ? QStringLiteral("disabled") : QStringLiteral("enabled"),
                                account.lastLogin}
                        .join(u'\t'));
        }
        return JobExit::kDone;
    });
}
