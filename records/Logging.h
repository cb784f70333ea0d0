#pragma once

#include <QLoggingCategory>

// The records library's logging category ("examstation.records").
Q_DECLARE_LOGGING_CATEGORY(lcRecords)
