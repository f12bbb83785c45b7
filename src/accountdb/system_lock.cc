#include "system_lock.h"

#include <shadow.h>

namespace vesk {
namespace {

SystemLockCalls& current() {
  static SystemLockCalls calls{&lckpwdf, &ulckpwdf};
  return calls;
}

}  // namespace

SystemLockCalls setSystemLockCalls(SystemLockCalls calls) {
  const SystemLockCalls before = current();
  if (calls.lock != nullptr && calls.unlock != nullptr) current() = calls;
  return before;
}

SystemLockCalls systemLockCalls() { return current(); }

bool SystemLock::acquire() {
  if (levels_ == 0 && current().lock() != 0) return false;
  ++levels_;
  return true;
}

void SystemLock::release() {
  if (levels_ == 0) return;
  if (--levels_ == 0) current().unlock();
}

SystemLock& processSystemLock() {
  static SystemLock lock;
  return lock;
}

}  // namespace vesk
