// The logo file and the logo's link: any bytes decrypt or fail with an error, nothing worse.
#include "FuzzFile.h"
#include "core/AppError.h"
#include "ui/func.h"

#include <QBuffer>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QBuffer output;
    output.open(QIODevice::ReadWrite);
    try {
        func::DecryptLogoFile(fuzzFile(data, size, QStringLiteral("logo.apl")), &output);
    } catch (const AppError &) {
    }
    func::DecryptLink(QString::fromLatin1(reinterpret_cast<const char *>(data), qsizetype(size)));
    return 0;
}
