#include "records/PictureStore.h"

#include "core/AppError.h"
#include "core/SafeFile.h"
#include "records/Database.h"
#include "records/Statements.h"

#include <QFileInfo>

namespace {

bool isPlainName(const QString &name)
{
    return !name.isEmpty() && !name.contains(u'/') && !name.contains(u'\\') && !name.contains(u'\0')
        && !name.contains(QStringLiteral("..")) && name != u"." && !(name.size() >= 2 && name.at(1) == u':');
}

QString inFolder(const QString &folder, const QString &name)
{
    return (folder.endsWith(u'/') ? folder : folder + u'/') + name;
}

} // namespace

namespace PictureStore {

void fetchWhenMissing(const Database &db, const QString &imagesFolder, const QString &name)
{
    if (!Statements::picturesInDatabase(db) || !isPlainName(name))
        return;
    const QString path = inFolder(imagesFolder, name);
    if (QFileInfo(path).isFile())
        return;
    const std::optional<QByteArray> jpeg = Statements::loadPicture(db, name);
    if (!jpeg)
        return;
    QString reason;
    if (!SafeFile::saveWhole(path, *jpeg, &reason))
        throw AppError(reason);
}

void store(const Database &db, const QString &imagesFolder, const QString &name)
{
    if (!Statements::picturesInDatabase(db) || !isPlainName(name))
        return;
    QByteArray jpeg;
    QString reason;
    if (!SafeFile::readFile(inFolder(imagesFolder, name), &jpeg, &reason))
        throw AppError(reason);
    if (!jpeg.isEmpty())
        Statements::storePicture(db, name, jpeg);
}

} // namespace PictureStore
