#include "dicom/Logging.h"

#include <dcmtk/oflog/oflog.h>

#include <mutex>

Q_LOGGING_CATEGORY(lcDicom, "examstation.dicom")

void setUpDcmtk()
{
    static std::once_flag once;
    std::call_once(once, [] { OFLog::configure(OFLogger::WARN_LOG_LEVEL); });
}
