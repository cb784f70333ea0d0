#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcDicom)

// DCMTK logs every association step at its info level to the standard error; only its warnings
// and errors are kept. Called before the first association (any thread, once).
void quietDcmtkLogging();
