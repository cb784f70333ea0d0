#pragma once

#include "app/CommandLineJob.h"

class Database;

// The operator accounts' jobs: --add-operator NAME --role operator|administrator,
// --set-password NAME, --disable-operator NAME, --operators. Passwords are read from the
// terminal without echo, or one per line from standard input for scripts.
CommandLineJob addOperatorJob();
CommandLineJob setPasswordJob();
CommandLineJob disableOperatorJob();
CommandLineJob operatorsJob();

// Whether this job may do what only an administrator may (accounts, --undelete, --backup): with
// [security] login=1 it needs --as NAME of an administrator and that account's password (read
// first); otherwise the desktop user may. Writes the refusal to standard error.
bool jobByAdministrator(Database &db, const QCommandLineParser &parser);

// With [security] login=1 and no account yet, says how to create the first administrator and
// gives false: the window does not start.
bool accountsReadyForLogin();
