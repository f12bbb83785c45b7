// The current hash of a local account, from the system's user and shadow databases.
#pragma once

#include "passwd_run.h"

// Sets run.storedHash, run.inShadow and run.shadow for run.targetName. False when the account is
// not in the user database.
bool readCurrentHash(PasswdRun& run);
