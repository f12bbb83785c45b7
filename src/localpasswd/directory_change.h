// Changing the caller's own directory password through the agent, from the passwd personality.
#pragma once

#include "passwd_run.h"

// Asks for the old password and the new one twice (prompts from the settings) and hands them to
// the agent. Returns kLocalChanged, kLocalRefused when refused or abandoned (messages printed),
// kLocalFailed when the agent failed, kLocalDirectoryOutcomeUnknown when the directory did
// not confirm the change in time.
LocalResult runDirectoryChange(const PasswdRun& run);
