#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcDicom)

// Called before the first association (any thread; the work is done once): DCMTK logs every
// association step at its info level to the standard error; only its warnings and errors are
// kept.
void setUpDcmtk();
