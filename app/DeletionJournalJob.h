#pragma once

#include "app/CommandLineJob.h"

// --deleted: lists the deletion journal. --undelete ID: puts an entry back.
CommandLineJob deletedJob();
CommandLineJob undeleteJob();
