// The line that tells the user why an account file was not changed, or what went wrong after it
// was: the account file database logs the details, the user gets one line naming what failed.
#pragma once

#include <string>

#include "db_file.h"

// Where the command names of running processes are shown (/proc/PID/comm).
inline constexpr const char* kProcPath = "/proc";

// The text (without program name and line end) for problem of the account file at path, or an
// empty text when there is nothing to add to the caller's own message:
//   - a busy lock: "PATH is locked by process N (COMMAND); try again later", the command name
//     left out when kProcPath does not show it;
//   - a lock file without a valid process id: names the lock file to remove;
//   - a failed backup, temporary file or rename: the step and the call that failed;
//   - a failed sync of the directory after the change: a warning that the change is in force.
std::string describeUpdateProblem(const vesk::DBFileProblem& problem, const std::string& path);
