#pragma once

#include "local_result.h"

// The passwd personality: runs the local password command and maps its result to the exit status.
int passwdMain(int argc, char** argv);

// The exit status for a result of the local password command.
int exitStatusForLocalResult(LocalResult result);
