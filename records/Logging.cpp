#include "records/Logging.h"

Q_LOGGING_CATEGORY(lcRecords, "examstation.records")
