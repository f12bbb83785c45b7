// The passwd personality: local accounts and the hand-over of directory accounts.
#pragma once

#include "local_result.h"

// Runs the local password command on the unchanged arguments and returns its result.
LocalResult localPasswdMain(int argc, char** argv);
