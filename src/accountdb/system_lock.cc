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

}  // namespace vesk
