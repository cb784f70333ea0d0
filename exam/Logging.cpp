#include "exam/Logging.h"

Q_LOGGING_CATEGORY(lcExam, "examstation.exam")
