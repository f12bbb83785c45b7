// Changing the caller's own directory password through the agent, from the passwd personality.
#pragma once

#include "passwd_run.h"

// The change was sent and not confirmed in time: it may or may not have been made (message printed).
inline constexpr int kDirectoryOutcomeUnknown = -2;

// Asks for the old password and the new one twice (prompts from the settings) and hands them to
// the agent. Returns 0 on success, 1 when refused or abandoned (messages printed), -1 when the
// agent failed, kDirectoryOutcomeUnknown.
int runDirectoryChange(const PasswdRun& run);
