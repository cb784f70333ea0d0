#pragma once

class QCommandLineParser;

// The command-line job "--export-report NUMBER FILE.pdf [--record K]": the report of a
// patient's examination written as a one-page A4 PDF, without the window and without printing.
namespace ReportExportJob {

// Before the application object exists: without a display, the job runs on the offscreen
// platform (it draws fonts and pictures, never a window).
void prepare(int argc, char **argv);
void addOptions(QCommandLineParser &parser);
bool requested(const QCommandLineParser &parser);
// Runs the job with the program's folder already set; the process's exit status.
int run(const QCommandLineParser &parser);

} // namespace ReportExportJob
