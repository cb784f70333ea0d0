#include "capture/Logging.h"

Q_LOGGING_CATEGORY(lcCapture, "examstation.capture")
