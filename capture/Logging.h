#pragma once

#include <QLoggingCategory>

// The capture library's log category ("examstation.capture"), switched with QT_LOGGING_RULES.
Q_DECLARE_LOGGING_CATEGORY(lcCapture)
