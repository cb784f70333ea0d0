#pragma once

#include "app/CommandLineJob.h"

// `examstation --home DIR --copy-database-to-server`: copies the program folder's SQLite
// records and pictures into the PostgreSQL database that config.ini names, in one transaction
// on the server. Rows and pictures the server already holds unchanged are not copied again, so
// an interrupted run leaves nothing behind and the next run copies everything once. Prints what
// it copied; returns the process's exit status. Runs before any window.
int copyDatabaseToServer();

CommandLineJob databaseCopyJob();
