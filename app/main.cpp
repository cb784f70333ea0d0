// Program entry: the application object, the main window and the message loop.
#include "app/DicomJobs.h"
#include "app/untMain.h"
#include "core/ProgramFolder.h"
#include "core/TerminationSignal.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ExamStation"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("ExamStation examination workstation"));
    parser.addHelpOption();
    const QCommandLineOption home(QStringLiteral("home"), QStringLiteral("Use DIR as the program's folder."),
                                  QStringLiteral("DIR"));
    const QCommandLineOption screenshot(
        QStringLiteral("screenshot"),
        QStringLiteral("Once the window is up, save a picture of it to FILE and close the window."),
        QStringLiteral("FILE"));
    parser.addOption(home);
    parser.addOption(screenshot);
    const QCommandLineOption outbox(QStringLiteral("outbox"), QStringLiteral("Print the PACS outbox and exit."));
    const QCommandLineOption sendDicom(
        QStringLiteral("send-dicom"),
        QStringLiteral("Send the stored examinations of patient NUMBER (or all) to the PACS and exit."),
        QStringLiteral("NUMBER|all"));
    parser.addOption(outbox);
    parser.addOption(sendDicom);
    parser.process(app);

    ProgramFolder::set(parser.isSet(home) ? parser.value(home) : QApplication::applicationDirPath());
    if (parser.isSet(outbox))
        return DicomJobs::printOutbox();
    if (parser.isSet(sendDicom))
        return DicomJobs::sendStoredExaminations(parser.value(sendDicom));

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
    return app.exec();
}
