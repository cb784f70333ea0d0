#include "app/DeletionJournalJob.h"

#include "app/OperatorJob.h"
#include "core/Audit.h"
#include "core/ProgramFolder.h"
#include "records/Database.h"
#include "records/DeletionJournal.h"

CommandLineJob deletedJob()
{
    const QCommandLineOption deleted(QStringLiteral("deleted"),
                                     QStringLiteral("List the deleted patients and examination records kept."));
    return CommandLineJob{
        .options = {deleted},
        .run =
            [](const QCommandLineParser &) {
                Database db;
                db.open();
                for (const DeletionJournal::Entry &entry : DeletionJournal::list(db)) {
                    jobSays(QStringLiteral("%1\t%2\t%3\t%4\t%5\t%6 record(s)")
                                .arg(entry.id)
                                .arg(entry.deletedAt.toString(QStringLiteral("yyyy-MM-dd HH:mm")), entry.kind,
                                     entry.number, entry.name)
                                .arg(entry.records));
                }
                return JobExit::kDone;
            },
    };
}

CommandLineJob undeleteJob()
{
    const QCommandLineOption undelete(QStringLiteral("undelete"),
                                      QStringLiteral("Put the deleted patient or record ID (see --deleted) back."),
                                      QStringLiteral("ID"));
    return CommandLineJob{
        .options = {undelete},
        .run =
            [undelete](const QCommandLineParser &parser) {
                bool valid = false;
                const qint64 id = parser.value(undelete).toLongLong(&valid);
                if (!valid)
                    return jobFailed(QStringLiteral("--undelete needs the ID --deleted lists, not \"%1\".")
                                         .arg(parser.value(undelete)),
                                     JobExit::kCannotRun);
                Database db;
                db.open();
                if (!jobByAdministrator(db, parser))
                    return JobExit::kFailed;
                QString number;
                for (const DeletionJournal::Entry &entry : DeletionJournal::list(db)) {
                    if (entry.id == id)
                        number = entry.number;
                }
                jobSays(DeletionJournal::restore(db, id, ProgramFolder::file(QStringLiteral("images/"))));
                Audit::record(Audit::Event::PatientUndeleted, number);
                return JobExit::kDone;
            },
    };
}
