// The report template loader: any bytes give a template or an error naming the file.
#include "core/AppError.h"
#include "report/ReportTemplate.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ReportTemplate report;
    try {
        report.loadFromText(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)), QStringLiteral("1.fr3"));
    } catch (const AppError &) {
    }
    return 0;
}
