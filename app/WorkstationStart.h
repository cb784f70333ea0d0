#pragma once

#include "core/WorkstationLock.h"

// Claims the program folder for the window. When a running workstation holds it, says so in a
// box (language file's Msg_already_running, in the remembered language) and returns false;
// nothing in the folder was changed then. When the lock file may not be written or read (the
// folder's permissions), says that instead (Msg_lock_not_permitted). Window thread only.
bool claimProgramFolder(WorkstationLock &lock);
