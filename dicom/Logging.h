#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcDicom)

// Called before the first association (any thread; the work is done once):
// - DCMTK logs every association step at its info level to the standard error; only its
//   warnings and errors are kept;
// - Debian's DCMTK leaves Nagle's algorithm on unless the environment variable TCP_NODELAY says
//   otherwise, which holds every C-STORE about 40 ms for the peer's delayed acknowledgement
//   (10 instead of ~150 instances a second over loopback); it is switched off unless the
//   variable is set already.
void setUpDcmtk();
