// The results of the passwd personality's routines, which the entry maps to exit statuses.
#pragma once

enum LocalResult : int {
  kLocalChanged = 0,
  kLocalRefused = 1,
  kLocalHelp = 2,
  // The change was not made: the account file could not be opened, updated or written back, or the
  // directory refused or abandoned the change.
  kLocalChangeNotMade = 3,
  kLocalBadUsage = 6,
  // The run failed: the directory road (the agent's result or an exception), or a system call the
  // run needs (privilege changes, the start of the system's passwd).
  kLocalFailed = -1,
  kLocalDirectoryOutcomeUnknown = -2,  // a directory change not confirmed in time
};
