#include "core/ProgramFolder.h"

#include <QCoreApplication>
#include <QDir>

namespace ProgramFolder {
namespace {
QString &stored()
{
    static QString folder;
    return folder;
}
} // namespace

void set(const QString &folder)
{
    QString absolute = QDir(folder).absolutePath();
    if (!absolute.endsWith(u'/'))
        absolute += u'/';
    stored() = absolute;
}

QString path()
{
    if (stored().isEmpty())
        set(QCoreApplication::applicationDirPath());
    return stored();
}

QString file(const QString &relative)
{
    return path() + relative;
}

} // namespace ProgramFolder
