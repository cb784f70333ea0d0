#include "app/DatabaseCopyJob.h"

#include "app/JobProgress.h"
#include "core/AppError.h"
#include "core/ProgramFolder.h"
#include "core/SafeFile.h"
#include "core/inifunc.h"
#include "records/Database.h"
#include "records/MeasurementStore.h"
#include "records/Statements.h"

#include <QFileInfo>
#include <QSet>

int copyDatabaseToServer()
{
    SetConfigFolder(ProgramFolder::path());
    const DatabaseParameters target = DatabaseParameters::fromConfig();
    if (!target.isServer())
        return jobFailed(QStringLiteral("config.ini names no PostgreSQL server: set driver=postgresql and "
                                        "connection= in its [database] section."),
                         JobExit::kCannotRun);
    const QString file = DatabaseParameters::defaultFile();
    if (!QFileInfo(file).isFile())
        return jobFailed(QStringLiteral("There is no local database %1 to copy.").arg(file), JobExit::kCannotRun);
    try {
        Database local;
        local.open(file);
        Database server;
        server.open(target);
        const QString images = ProgramFolder::file(QStringLiteral("images/"));

        int patients = 0, patientsThere = 0, sharedNumbers = 0, records = 0, recordsThere = 0, pictures = 0,
            picturesMissing = 0;
        const QList<Statements::Patient> localPatients = Statements::allPatients(local);
        const QList<Statements::ExamRecord> localRecords = Statements::allExamRecords(local);
        const QList<qint64> localIds = Statements::examRecordIds(local, QString()); // in the same order
        QSet<QString> names;
        for (const Statements::ExamRecord &record : localRecords) {
            for (const QString &name : record.pic)
                names.insert(name);
        }
        names.remove(QString());
        // Patients, records and pictures are one count: the pictures take most of the time.
        JobProgress progress(QStringLiteral("copying"));
        const qsizetype steps = localPatients.size() + localRecords.size() + names.size();
        qsizetype done = 0;

        ScopedTransaction transaction(server);
        // No workstation stores a new number while the room's patients arrive.
        Statements::lockPatientNumbers(server);
        for (const Statements::Patient &patient : localPatients) {
            progress.show(done++, steps);
            if (Statements::holdsPatient(server, patient)) {
                ++patientsThere;
                continue;
            }
            if (Statements::patientExists(server, patient.client_id))
                ++sharedNumbers;
            Statements::insertPatient(server, patient);
            ++patients;
        }
        for (qsizetype i = 0; i < localRecords.size(); ++i) {
            const Statements::ExamRecord &record = localRecords[i];
            progress.show(done++, steps);
            if (Statements::holdsExamRecord(server, record)) {
                ++recordsThere;
                continue;
            }
            // The record gets the server's ID; its lengths follow it there.
            const qint64 id = Statements::insertExamRecord(server, record);
            MeasurementStore::insert(server, id, MeasurementStore::ofRecord(local, localIds.value(i)));
            ++records;
        }
        for (const QString &name : std::as_const(names)) {
            progress.show(done++, steps);
            if (Statements::loadPicture(server, name))
                continue;
            QByteArray jpeg;
            QString reason;
            if (!QFileInfo(images + name).isFile() || !SafeFile::readFile(images + name, &jpeg, &reason)
                || jpeg.isEmpty()) {
                ++picturesMissing;
                continue;
            }
            Statements::storePicture(server, name, jpeg);
            ++pictures;
        }
        progress.show(done, steps);
        transaction.commit();

        jobSays(QStringLiteral("Copied to %1:").arg(target.describe()));
        jobSays(QStringLiteral("  patients: %1 copied, %2 already there").arg(patients).arg(patientsThere));
        jobSays(QStringLiteral("  examination records: %1 copied, %2 already there").arg(records).arg(recordsThere));
        jobSays(QStringLiteral("  pictures: %1 copied, %2 not in %3").arg(pictures).arg(picturesMissing).arg(images));
        if (sharedNumbers > 0)
            jobSays(QStringLiteral("  %1 copied patients have a number that another patient on the server holds "
                                   "too; look them up by name.")
                        .arg(sharedNumbers));
        return JobExit::kDone;
    } catch (const AppError &error) {
        return jobFailed(QStringLiteral("Copying the records failed; nothing was copied: %1").arg(error.message()));
    }
}

CommandLineJob databaseCopyJob()
{
    return {
        .options = {QCommandLineOption(
            QStringLiteral("copy-database-to-server"),
            QStringLiteral(
                "Copy the local records and pictures into the PostgreSQL database of config.ini, then exit."))},
        .paints = false,
        .run = [](const QCommandLineParser &) { return copyDatabaseToServer(); },
    };
}
