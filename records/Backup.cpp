#include "records/Backup.h"

#include "core/AppError.h"
#include "core/SafeFile.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QThread>

#include <sqlite3.h>

#include <memory>

namespace Backup {
namespace {
struct CloseConnection {
    void operator()(sqlite3 *connection) const { sqlite3_close_v2(connection); }
};
using Connection = std::unique_ptr<sqlite3, CloseConnection>;

Connection open(const QString &file, int flags)
{
    sqlite3 *raw = nullptr;
    const int status = sqlite3_open_v2(QFile::encodeName(file).constData(), &raw, flags, nullptr);
    Connection connection(raw);
    if (status != SQLITE_OK)
        throw AppError(QStringLiteral("Cannot open %1: %2").arg(file, QString::fromUtf8(sqlite3_errstr(status))));
    sqlite3_busy_timeout(raw, 10000);
    return connection;
}

QString lastError(sqlite3 *connection)
{
    return QString::fromUtf8(sqlite3_errmsg(connection));
}

// Rows of a one-column statement as texts.
QStringList texts(sqlite3 *connection, const char *statement)
{
    sqlite3_stmt *raw = nullptr;
    if (sqlite3_prepare_v2(connection, statement, -1, &raw, nullptr) != SQLITE_OK)
        throw AppError(lastError(connection));
    const std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt *)> query(raw, sqlite3_finalize);
    QStringList result;
    int status;
    while ((status = sqlite3_step(raw)) == SQLITE_ROW) {
        for (int column = 0; column < sqlite3_column_count(raw); ++column)
            result << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(raw, column)));
    }
    if (status != SQLITE_DONE)
        throw AppError(lastError(connection));
    return result;
}

void copyDatabase(const QString &source, const QString &target)
{
    const Connection from = open(source, SQLITE_OPEN_READWRITE);
    const Connection to = open(target, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    sqlite3_backup *backup = sqlite3_backup_init(to.get(), "main", from.get(), "main");
    if (!backup)
        throw AppError(QStringLiteral("Cannot back up the database: %1").arg(lastError(to.get())));
    // All pages in one step: one read transaction, so one committed state. A writer holding
    // the file a moment makes it wait, within bounds.
    int status;
    for (int attempt = 0; attempt < 100; ++attempt) {
        status = sqlite3_backup_step(backup, -1);
        if (status != SQLITE_BUSY && status != SQLITE_LOCKED)
            break;
        QThread::msleep(100);
    }
    sqlite3_backup_finish(backup);
    if (status != SQLITE_DONE)
        throw AppError(
            QStringLiteral("Cannot back up the database: %1").arg(QString::fromUtf8(sqlite3_errstr(status))));
    // The copy is one file, ready to be put in place.
    texts(to.get(), "pragma journal_mode=delete");
}

// Every file below the folder, with the folder it is to be copied into. saveWhole's
// temporaries (a save a crash cut short) are left out: they are never a whole picture.
void listTree(const QString &from, const QString &to, QList<std::pair<QString, QString>> *files)
{
    QDirIterator it(from, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        if (!SafeFile::isLeftover(it.fileName()))
            files->append({file, to + u'/' + QDir(from).relativeFilePath(file)});
    }
}

// Copies the files; returns how many. A file that vanishes while the copy runs (a scratch file
// renamed into place) is passed over.
int copyFiles(const QList<std::pair<QString, QString>> &files, const Progress &progress)
{
    int count = 0;
    for (qsizetype i = 0; i < files.size(); ++i) {
        if (progress)
            progress(i, files.size());
        const auto &[file, copy] = files.at(i);
        QDir().mkpath(QFileInfo(copy).absolutePath());
        if (!QFile::copy(file, copy)) {
            if (!QFile::exists(file))
                continue;
            throw AppError(QStringLiteral("Cannot copy %1 to %2.").arg(file, copy));
        }
        ++count;
    }
    if (progress)
        progress(files.size(), files.size());
    return count;
}

QString newFolder(const QString &target)
{
    const QString base = QDir(target).filePath(
        QStringLiteral("examstation-") + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    QString folder = base;
    for (int n = 2; QFileInfo::exists(folder); ++n)
        folder = base + u'-' + QString::number(n);
    if (!QDir().mkpath(folder + QStringLiteral("/data")))
        throw AppError(QStringLiteral("Cannot create the folder %1.").arg(folder));
    return folder;
}
} // namespace

Result take(const QString &programFolder, const QString &target, bool withVideo, const Progress &progress)
{
    const QDir home(programFolder);
    const QString database = home.filePath(QStringLiteral("data/data.db"));
    if (!QFileInfo(database).isFile())
        throw AppError(QStringLiteral("There is no database at %1.").arg(database));
    Result result;
    result.folder = newFolder(target);
    const QDir copy(result.folder);

    copyDatabase(database, copy.filePath(QStringLiteral("data/data.db")));
    const Connection copied = open(copy.filePath(QStringLiteral("data/data.db")), SQLITE_OPEN_READONLY);
    result.written << QStringLiteral("data/data.db (%1 patients, %2 examination records)")
                          .arg(texts(copied.get(), "select count(*) from t_clients").value(0),
                               texts(copied.get(), "select count(*) from t_contents").value(0));

    // The pictures and recordings in one count: they are what takes minutes.
    QList<std::pair<QString, QString>> pictures, videos;
    listTree(home.filePath(QStringLiteral("images")), copy.filePath(QStringLiteral("images")), &pictures);
    if (withVideo)
        listTree(home.filePath(QStringLiteral("video")), copy.filePath(QStringLiteral("video")), &videos);
    const qsizetype total = pictures.size() + videos.size();
    result.written << QStringLiteral("images/ (%1 files)").arg(copyFiles(pictures, [&](qsizetype done, qsizetype) {
        if (progress)
            progress(done, total);
    }));
    if (withVideo)
        result.written << QStringLiteral("video/ (%1 files)").arg(copyFiles(videos, [&](qsizetype done, qsizetype) {
            if (progress)
                progress(pictures.size() + done, total);
        }));
    for (const QString &file :
         {QStringLiteral("config.ini"), QStringLiteral("system.ini"), QStringLiteral("data/1.fr3")}) {
        if (!home.exists(file))
            continue;
        if (!QFile::copy(home.filePath(file), copy.filePath(file)))
            throw AppError(QStringLiteral("Cannot copy %1 to %2.").arg(home.filePath(file), copy.filePath(file)));
        result.written << file;
    }

    const QStringList faults = check(result.folder);
    if (!faults.isEmpty())
        throw AppError(
            QStringLiteral("The copy in %1 is not whole: %2").arg(result.folder, faults.join(QStringLiteral("; "))));
    return result;
}

QStringList check(const QString &copyFolder)
{
    const QDir copy(copyFolder);
    const Connection db = open(copy.filePath(QStringLiteral("data/data.db")), SQLITE_OPEN_READONLY);
    QStringList faults;
    const QStringList integrity = texts(db.get(), "pragma integrity_check");
    if (integrity != QStringList{QStringLiteral("ok")})
        faults << QStringLiteral("integrity check: ") + integrity.join(QStringLiteral(", "));
    for (const QString &name : texts(db.get(), "select pic1, pic2, pic3, pic4 from t_contents")) {
        if (!name.isEmpty() && !copy.exists(QStringLiteral("images/") + name))
            faults << QStringLiteral("missing picture images/") + name;
    }
    return faults;
}

} // namespace Backup
