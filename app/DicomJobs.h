#pragma once

#include "app/CommandLineJob.h"

#include <QString>

// The command-line jobs of DICOM sending, run without the window on the program's folder.
namespace DicomJobs {

// --outbox: prints every instance of the outbox, waiting or sent. Returns the exit code.
int printOutbox();

// --send-dicom NUMBER|all: queues the stored examinations of the patient (of every patient),
// delivers everything waiting, prints what was sent and what was not. Exits with kPartly when
// anything could not be delivered, kCannotRun when no PACS is configured, kFailed when the
// patient has no examination (JobExit).
int sendStoredExaminations(const QString &which);

// --dicom-echo: C-ECHO to every configured partner (PACS, worklist), one line each with the
// outcome and the time taken. Non-zero when one fails or none is configured.
int echoPeers();

} // namespace DicomJobs

CommandLineJob outboxJob();
// Paints: the report of each examination goes to the PACS as a PDF page.
CommandLineJob sendDicomJob();
CommandLineJob dicomEchoJob();
