// The passwd personality: local accounts and the hand-over of directory accounts.
#pragma once

// Runs the local password command on the unchanged arguments and returns its result:
// 0 success, 1 refused, 2 usage, 3 failure, 6 usage (help), -1 internal failure.
int localPasswdMain(int argc, char** argv);
