// Writing a new hash into the account files.
#pragma once

#include "passwd_run.h"

// Writes run.storedHash and today's day into the shadow record of run.targetName in the shadow
// file at path. With recheckAging the aging rules are applied again to the record read under the
// lock, so that a change made meanwhile (a lock, a new minimum age) is not slipped past.
// Returns kLocalChanged, kLocalRefused (no such record, or refused by the aging rules) or
// kLocalChangeNotMade (the file could not be opened, updated or written back). A failed lock is
// explained on standard error after the cannot-open message; what failed in the write-back, or
// went wrong after the change took effect, is left in run.updateNote for the closing message. The
// caller holds back signals (SignalBlock).
LocalResult updateShadowPassword(PasswdRun& run, const char* path, bool recheckAging);

// Writes run.storedHash into the passwd record of run.targetName in the passwd file at path.
// Returns kLocalChanged, kLocalRefused or kLocalChangeNotMade.
LocalResult updatePasswdPassword(PasswdRun& run, const char* path);
