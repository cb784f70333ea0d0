#pragma once

#include <QLoggingCategory>

// The patient database's log messages ("examstation.records").
Q_DECLARE_LOGGING_CATEGORY(lcRecords)
