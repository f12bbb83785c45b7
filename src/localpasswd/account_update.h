// Writing a new hash into the account files.
#pragma once

#include "passwd_run.h"

inline constexpr const char* kShadowPath = "/etc/shadow";
inline constexpr const char* kPasswdPath = "/etc/passwd";

// Writes run.storedHash and today's day into the shadow record of run.targetName. With
// recheckAging the aging rules are applied again to the record read under the lock.
// Returns 0, 1 (no such record, or refused by the aging rules) or 3 (the file could not be
// opened, updated or written back).
int updateShadowPassword(const PasswdRun& run, bool recheckAging);

// Writes run.storedHash into the passwd record of run.targetName. Returns 0, 1 or 3.
int updatePasswdPassword(const PasswdRun& run);
