#pragma once

#include "app/CommandLineJob.h"

// --verify-audit: checks the audit trail's chain and names the first entry changed, removed or
// inserted. --audit [--from DATE] [--to DATE] [--patient NUMBER]: prints the entries.
CommandLineJob verifyAuditJob();
CommandLineJob auditJob();
