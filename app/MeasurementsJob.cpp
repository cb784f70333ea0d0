#include "app/MeasurementsJob.h"

#include "core/Audit.h"
#include "core/IniFile.h"
#include "records/Database.h"
#include "records/MeasurementStore.h"
#include "records/Statements.h"

#include <cmath>

CommandLineJob measurementsJob()
{
    const QCommandLineOption measurements(QStringLiteral("measurements"),
                                          QStringLiteral("List the lengths measured on patient NUMBER's pictures."),
                                          QStringLiteral("NUMBER"));
    return CommandLineJob{
        .options = {measurements},
        .run =
            [measurements](const QCommandLineParser &parser) {
                const QString number = parser.value(measurements).trimmed();
                Database db;
                db.open();
                if (!Statements::loadPatient(db, number))
                    return jobFailed(QStringLiteral("There is no patient with the number \"%1\".").arg(number));
                for (const MeasurementStore::Dated &row : MeasurementStore::ofPatient(db, number)) {
                    const Measurement &m = row.measurement;
                    jobSays(QStringLiteral("%1\tslot %2\t%3 mm\t%4 mm/pixel, calibrated at height %5 (%6)")
                                .arg(row.printtime.toString(QStringLiteral("yyyy-MM-dd HH:mm")))
                                .arg(m.slot)
                                .arg(IniFile::formatFloat(std::round(m.lengthMm * 100) / 100))
                                .arg(IniFile::formatFloat(m.mmPerPixel))
                                .arg(m.calibrationHeight)
                                .arg(m.method));
                }
                Audit::record(Audit::Event::PatientOpened, number);
                return JobExit::kDone;
            },
    };
}
