#pragma once

#include <QLoggingCategory>

// The security library's log messages ("examstation.security").
Q_DECLARE_LOGGING_CATEGORY(lcSecurity)
