// The JPEG decoder of the slot pictures: any bytes give a picture or an error. scripts/fuzz
// runs it with a memory limit, so a file that makes the decoder allocate far beyond the
// largest picture accepted is a finding.
#include "core/AppError.h"
#include "imaging/JpegFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    try {
        JpegFile::decode(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    } catch (const AppError &) {
    }
    return 0;
}
