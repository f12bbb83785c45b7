// Handing options of the system's passwd to the system's own program, for a host where this
// binary has taken the place of /usr/bin/passwd.
#pragma once

#include <optional>

#include "local_result.h"

// When the settings name the system's passwd program (vesk::PN::PASSWD_SYSTEM) and the command
// line holds an option other than "-h" and "-v", gives up every privilege for the caller's own
// identity and runs that program with the same arguments in place of this process. Returns
// nothing when the command line is this personality's own; kLocalFailed (after a message) when
// the program cannot be run. Never returns on success. Called before the process changes its
// resource limits or signal dispositions, so the program gets the caller's own.
std::optional<LocalResult> handOverToSystemPasswd(int argc, char** argv, const char* progName);
