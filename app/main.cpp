// Program entry: the command line (parsed before any display is touched), the command-line jobs,
// and otherwise the main window and its message loop.
#include "app/AuditJob.h"
#include "app/BackupJob.h"
#include "app/CommandLineJob.h"
#include "app/DatabaseCopyJob.h"
#include "app/DeletionJournalJob.h"
#include "app/DicomJobs.h"
#include "app/MeasurementsJob.h"
#include "app/OperatorJob.h"
#include "app/ReportExportJob.h"
#include "app/WorkstationStart.h"
#include "app/untMain.h"
#include "core/AppError.h"
#include "core/MessageLog.h"
#include "core/PrivateFiles.h"
#include "core/ProgramFolder.h"
#include "core/TerminationSignal.h"
#include "core/inifunc.h"
#include "dicom/DicomAssociation.h"
#include "dicom/DicomPeer.h"
#include "security/AuditTrail.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QLoggingCategory>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <vector>

namespace {
Q_LOGGING_CATEGORY(lcApp, "examstation.app")

bool hasDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

void nameApplication()
{
    QCoreApplication::setApplicationName(QStringLiteral("ExamStation"));
    QCoreApplication::setApplicationVersion(QStringLiteral(EXAMSTATION_VERSION));
}

void useProgramFolder(const QString &home)
{
    const QString folder = ProgramFolder::locate(home, QCoreApplication::applicationDirPath());
    // Before anything is created: the folder, the database, pictures, videos, the log and
    // backups are private to the account (or to the group of a shared folder).
    PrivateFiles::useModesOf(folder);
    ProgramFolder::furnish(folder, QCoreApplication::applicationDirPath());
    ProgramFolder::set(folder);
}

// A folder made before the files were private (or by hand) is made so at the start, once.
void tightenProgramFolder()
{
    const QString folder = ProgramFolder::path();
    const PrivateFiles::Modes modes = PrivateFiles::modesFor(folder);
    if (const int changed = PrivateFiles::tighten(folder))
        qCWarning(lcApp).noquote() << QStringLiteral("%1 files and folders of %2 made private (folders %3, files %4)")
                                          .arg(changed)
                                          .arg(folder)
                                          .arg(modes.folder, 4, 8, QLatin1Char('0'))
                                          .arg(modes.file, 4, 8, QLatin1Char('0'));
}

int runJob(const CommandLineJob &job, const QCommandLineParser &parser, const QString &home)
{
    useProgramFolder(home);
    SetConfigFolder(ProgramFolder::path());
    try {
        // What the job does to patients' data goes to the audit trail, written before it exits.
        const AuditTrail audit(DatabaseParameters::fromConfig(),
                               Workstation::thisComputer(DicomSettings::read().pacs.callingAe));
        return job.run(parser);
    } catch (const AppError &failure) {
        return jobFailed(failure.message());
    } catch (const std::exception &failure) {
        return jobFailed(QString::fromLocal8Bit(failure.what()));
    }
}
} // namespace

int main(int argc, char **argv)
{
    // Before any thread exists: the environment is read by DCMTK on every thread that connects.
    DicomAssociation::prepareProcess();
    // Each job adds one line here.
    const std::vector<CommandLineJob> jobs = {
        backupJob(),      deletedJob(),     undeleteJob(),        reportExportJob(), databaseCopyJob(),
        outboxJob(),      sendDicomJob(),   dicomEchoJob(),       verifyAuditJob(),  auditJob(),
        addOperatorJob(), setPasswordJob(), disableOperatorJob(), operatorsJob(),    measurementsJob(),
    };

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("ExamStation examination workstation"));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption home(QStringLiteral("home"), QStringLiteral("Use DIR as the program's folder."),
                                  QStringLiteral("DIR"));
    const QCommandLineOption screenshot(
        QStringLiteral("screenshot"),
        QStringLiteral("Once the window is up, save a picture of it to FILE and close the window."),
        QStringLiteral("FILE"));
    parser.addOption(home);
    parser.addOption(screenshot);
    for (const CommandLineJob &job : jobs)
        parser.addOptions(job.options);

    // Parsed before any application object exists: --help, --version and the jobs must not need
    // a display, and only the window gets a QApplication.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const bool understood = parser.parse(arguments);
    const CommandLineJob *job = nullptr;
    for (const CommandLineJob &candidate : jobs) {
        if (!job && parser.isSet(candidate.options.first()))
            job = &candidate;
    }
    const bool helpOrVersion = parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))
        || parser.isSet(QStringLiteral("version"));

    // Options not understood here may be Qt's own (-platform, -style), which only QApplication
    // takes away; without a display they are an error at once.
    if ((!understood && !hasDisplay()) || (understood && (helpOrVersion || job))) {
        std::unique_ptr<QCoreApplication> app;
        if (job && job->paints) {
            if (!hasDisplay())
                qputenv("QT_QPA_PLATFORM", "offscreen");
            app = std::make_unique<QGuiApplication>(argc, argv);
        } else {
            app = std::make_unique<QCoreApplication>(argc, argv);
        }
        nameApplication();
        if (!understood)
            return jobFailed(parser.errorText(), JobExit::kCannotRun);
        if (helpOrVersion)
            parser.process(*app); // prints and exits
        return runJob(*job, parser, parser.value(home));
    }

    QApplication app(argc, argv);
    nameApplication();
    parser.process(app);
    for (const CommandLineJob &candidate : jobs) {
        if (parser.isSet(candidate.options.first()))
            return runJob(candidate, parser, parser.value(home));
    }
    useProgramFolder(parser.value(home));
    SetConfigFolder(ProgramFolder::path());
    if (!accountsReadyForLogin())
        return JobExit::kCannotRun;

    // A second workstation on this folder says so and leaves every file as it is.
    WorkstationLock lock(ProgramFolder::path());
    if (!claimProgramFolder(lock))
        return 1;
    MessageLog::install(ProgramFolder::path());
    tightenProgramFolder();

    TfrmMain window;
    TerminationSignal termination;
    QObject::connect(&termination, &TerminationSignal::received, &window, &QWidget::close);
    window.show();

    if (parser.isSet(screenshot)) {
        // Give the camera a moment to deliver frames, then take the picture and close normally.
        const QString target = parser.value(screenshot);
        QTimer::singleShot(2500, &window, [&window, target] {
            if (window.grab().save(target))
                std::printf("%s\n", qPrintable(target));
            else
                std::fprintf(stderr, "cannot save the screenshot to %s\n", qPrintable(target));
            window.close();
        });
    }
    const int status = app.exec();
    MessageLog::uninstall();
    return status;
}
