#pragma once

#include "app/CommandLineJob.h"

// --backup TARGET [--with-video]: a whole, checked copy of the program folder into a dated
// folder under TARGET; prints what it wrote.
CommandLineJob backupJob();
