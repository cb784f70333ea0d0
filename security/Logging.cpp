#include "security/Logging.h"

Q_LOGGING_CATEGORY(lcSecurity, "examstation.security")
