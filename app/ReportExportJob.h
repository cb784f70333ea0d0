#pragma once

#include "app/CommandLineJob.h"

// The command-line job "--export-report NUMBER FILE.pdf [--record K]": the report of a
// patient's examination written as a one-page A4 PDF, without the window and without printing.
namespace ReportExportJob {

// Runs the job with the program's folder already set; the process's exit status.
int run(const QCommandLineParser &parser);

} // namespace ReportExportJob

CommandLineJob reportExportJob();
