#include "app/BackupJob.h"

#include "app/JobProgress.h"
#include "app/OperatorJob.h"
#include "core/Audit.h"
#include "core/ProgramFolder.h"
#include "records/Backup.h"
#include "records/Database.h"

CommandLineJob backupJob()
{
    const QCommandLineOption backup(
        QStringLiteral("backup"),
        QStringLiteral("Write a checked copy of the database, pictures and settings into a dated folder under TARGET."),
        QStringLiteral("TARGET"));
    const QCommandLineOption withVideo(QStringLiteral("with-video"),
                                       QStringLiteral("With --backup: copy the recordings (video/) too."));
    return CommandLineJob{
        .options = {backup, withVideo},
        .run =
            [backup, withVideo](const QCommandLineParser &parser) {
                {
                    Database db;
                    db.open();
                    if (!jobByAdministrator(db, parser))
                        return JobExit::kFailed;
                }
                Backup::Result result;
                {
                    JobProgress progress(QStringLiteral("files"));
                    result = Backup::take(ProgramFolder::path(), parser.value(backup), parser.isSet(withVideo),
                                          [&progress](qsizetype done, qsizetype total) { progress.show(done, total); });
                }
                jobSays(result.folder);
                for (const QString &line : result.written)
                    jobSays(QStringLiteral("  ") + line);
                jobSays(QStringLiteral("checked: the copy is whole"));
                Audit::record(Audit::Event::BackupTaken);
                return JobExit::kDone;
            },
    };
}
