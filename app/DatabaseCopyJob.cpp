#include "app/DatabaseCopyJob.h"

#include "core/AppError.h"
#include "core/ProgramFolder.h"
#include "core/SafeFile.h"
#include "core/inifunc.h"
#include "records/Database.h"
#include "records/Statements.h"

#include <QFileInfo>
#include <QSet>

#include <cstdio>

int copyDatabaseToServer()
{
    SetConfigFolder(ProgramFolder::path());
    const DatabaseParameters target = DatabaseParameters::fromConfig();
    if (!target.isServer()) {
        std::fprintf(stderr,
                     "config.ini names no PostgreSQL server: set driver=postgresql and connection= in "
                     "its [database] section.\n");
        return 2;
    }
    const QString file = DatabaseParameters::defaultFile();
    if (!QFileInfo(file).isFile()) {
        std::fprintf(stderr, "There is no local database %s to copy.\n", qPrintable(file));
        return 2;
    }
    try {
        Database local;
        local.open(file);
        Database server;
        server.open(target);
        const QString images = ProgramFolder::file(QStringLiteral("images/"));

        int patients = 0, patientsThere = 0, sharedNumbers = 0, records = 0, recordsThere = 0, pictures = 0,
            picturesMissing = 0;
        ScopedTransaction transaction(server);
        // No workstation stores a new number while the room's patients arrive.
        Statements::lockPatientNumbers(server);
        for (const Statements::Patient &patient : Statements::allPatients(local)) {
            if (Statements::holdsPatient(server, patient)) {
                ++patientsThere;
                continue;
            }
            if (Statements::patientExists(server, patient.client_id))
                ++sharedNumbers;
            Statements::insertPatient(server, patient);
            ++patients;
        }
        QSet<QString> names;
        for (const Statements::ExamRecord &record : Statements::allExamRecords(local)) {
            for (const QString &name : record.pic)
                names.insert(name);
            if (Statements::holdsExamRecord(server, record)) {
                ++recordsThere;
                continue;
            }
            Statements::insertExamRecord(server, record);
            ++records;
        }
        names.remove(QString());
        for (const QString &name : std::as_const(names)) {
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
        transaction.commit();

        std::printf("Copied to %s:\n", qPrintable(target.describe()));
        std::printf("  patients: %d copied, %d already there\n", patients, patientsThere);
        std::printf("  examination records: %d copied, %d already there\n", records, recordsThere);
        std::printf("  pictures: %d copied, %d not in %s\n", pictures, picturesMissing, qPrintable(images));
        if (sharedNumbers > 0)
            std::printf("  %d copied patients have a number that another patient on the server holds too; "
                        "look them up by name.\n",
                        sharedNumbers);
        return 0;
    } catch (const AppError &error) {
        std::fprintf(stderr, "Copying the records failed; nothing was copied: %s\n", qPrintable(error.message()));
        return 1;
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
