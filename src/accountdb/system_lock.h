// The system's password-file lock, behind a seam.
//
// DBFile takes the lock with lckpwdf and releases it with ulckpwdf. Tests replace the two calls, so
// that they never take the lock of the machine they run on.
#pragma once

namespace vesk {

struct SystemLockCalls {
  int (*lock)();    // 0 on success, -1 on failure (as lckpwdf)
  int (*unlock)();  // 0 on success, -1 on failure (as ulckpwdf)
};

// Installs calls (both non-null) and returns the ones in force before.
SystemLockCalls setSystemLockCalls(SystemLockCalls calls);
// The calls in force: lckpwdf and ulckpwdf unless replaced.
SystemLockCalls systemLockCalls();

}  // namespace vesk
