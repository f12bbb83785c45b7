#include "current_hash.h"

#include <pwd.h>
#include <shadow.h>

#include <cstring>

namespace {

ShadowAging agingOf(const struct spwd& entry) {
  ShadowAging aging;
  aging.hash = entry.sp_pwdp != nullptr ? entry.sp_pwdp : "";
  aging.lastChange = entry.sp_lstchg;
  aging.minAge = entry.sp_min;
  aging.maxAge = entry.sp_max;
  aging.warnPeriod = entry.sp_warn;
  aging.inactivePeriod = entry.sp_inact;
  aging.expiry = entry.sp_expire;
  return aging;
}

}  // namespace

bool readCurrentHash(PasswdRun& run) {
  const struct passwd* entry = getpwnam(run.targetName.c_str());
  if (entry == nullptr) return false;
  const std::string field = entry->pw_passwd != nullptr ? entry->pw_passwd : "";
  run.shadow.reset();
  run.inShadow = false;
  run.storedHash = field;
  if (field == "x" || field == "*") {
    const struct spwd* shadowEntry = getspnam(run.targetName.c_str());
    if (shadowEntry != nullptr) {
      run.shadow = agingOf(*shadowEntry);
      run.storedHash = run.shadow->hash;
      run.inShadow = true;
    }
  }
  return true;
}
