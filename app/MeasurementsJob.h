#pragma once

#include "app/CommandLineJob.h"

// --measurements NUMBER: the patient's measured lengths, one a line (date, slot, length,
// calibration), oldest examination first.
CommandLineJob measurementsJob();
