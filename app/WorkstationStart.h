#pragma once

#include "core/WorkstationLock.h"

// Claims the program folder for the window. When a running workstation holds it, says so in a
// box (language file's Msg_already_running, in the remembered language) and returns false;
// nothing in the folder was changed then. Window thread only.
bool claimProgramFolder(WorkstationLock &lock);
