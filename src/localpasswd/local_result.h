// The results of the passwd personality's routines, which the entry maps to exit statuses.
#pragma once

enum LocalResult : int {
  kLocalChanged = 0,
  kLocalRefused = 1,
  kLocalHelp = 2,
  kLocalFileFailed = 3,  // also: a directory change refused or abandoned
  kLocalBadUsage = 6,
  kLocalDirectoryFailed = -1,
  kLocalDirectoryOutcomeUnknown = -2,  // a directory change not confirmed in time
};
