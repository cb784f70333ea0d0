#pragma once

#include <QLoggingCategory>

// The examination sheet's log messages ("examstation.exam").
Q_DECLARE_LOGGING_CATEGORY(lcExam)
