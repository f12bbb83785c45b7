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

// The process's levels of the system lock: the first level takes the lock, the last one given
// back releases it. One object per process (processSystemLock).
class SystemLock {
 public:
  // Takes one level; false (and no level) when the lock call fails.
  bool acquire();
  // Gives back one level.
  void release();
  int levels() const { return levels_; }

 private:
  int levels_ = 0;
};

SystemLock& processSystemLock();

// One level of the system lock, given back by release or at destruction.
class SystemLockLevel {
 public:
  SystemLockLevel() = default;
  SystemLockLevel(const SystemLockLevel&) = delete;
  SystemLockLevel& operator=(const SystemLockLevel&) = delete;
  ~SystemLockLevel() { release(); }

  bool acquire() {
    if (!held_) held_ = processSystemLock().acquire();
    return held_;
  }
  void release() {
    if (held_) processSystemLock().release();
    held_ = false;
  }

 private:
  bool held_ = false;
};

// Installs calls (both non-null) and returns the ones in force before.
SystemLockCalls setSystemLockCalls(SystemLockCalls calls);
// The calls in force: lckpwdf and ulckpwdf unless replaced.
SystemLockCalls systemLockCalls();

}  // namespace vesk
