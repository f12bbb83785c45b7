#include "account_update.h"

#include <time.h>

#include <cstdio>

#include "aging_rules.h"
#include "db_operator.h"
#include "db_records.h"
#include "signal_block.h"

namespace {

long long daysSinceEpoch(time_t now) { return static_cast<long long>(now) / 86400; }

long long numberOr(const vesk::OptionalNumber<std::int64_t>& number) { return number.set ? number.value : -1; }

ShadowAging agingOf(const vesk::DBShadow& record) {
  ShadowAging aging;
  aging.hash = record.password;
  aging.lastChange = numberOr(record.lastChange);
  aging.minAge = numberOr(record.minAge);
  aging.maxAge = numberOr(record.maxAge);
  aging.warnPeriod = numberOr(record.warnPeriod);
  aging.inactivePeriod = numberOr(record.inactivePeriod);
  aging.expiry = numberOr(record.expiryDay);
  return aging;
}

// Locks, opens and loads the file of op; prints the cannot-open message on failure.
template <typename Operator>
bool openLocked(Operator& op, const PasswdRun& run, const char* path) {
  if (op.lockOpenLoad()) return true;
  std::fprintf(stderr, "%s: cannot open %s\n", run.progName.c_str(), path);
  return false;
}

}  // namespace

LocalResult updateShadowPassword(const PasswdRun& run, const char* path, bool recheckAging) {
  SignalBlock quiet;
  vesk::DBOperator<vesk::DBShadow, vesk::DBFile> op(path);
  if (!openLocked(op, run, path)) return kLocalFileFailed;
  vesk::DBShadow record = op.find(run.targetName);
  if (record.isEmpty()) {
    std::fprintf(stderr, "%s: cannot find user %s\n", run.progName.c_str(), run.targetName.c_str());
    return kLocalRefused;
  }
  const time_t now = time(nullptr);
  if (recheckAging) {
    // Another run, or an administrator, may have changed the record since it was first read.
    const AgingVerdict verdict = checkAgingRules(agingOf(record), now);
    if (verdict != AgingVerdict::kPermitted) {
      printAgingRefusal(verdict, run.targetName);
      return kLocalRefused;
    }
  }
  record.password = run.storedHash;
  record.lastChange.set = true;
  record.lastChange.value = daysSinceEpoch(now);
  const bool updated = op.update(record);
  const bool committed = op.commit();
  return updated && committed ? kLocalChanged : kLocalFileFailed;
}

LocalResult updatePasswdPassword(const PasswdRun& run, const char* path) {
  SignalBlock quiet;
  vesk::DBOperator<vesk::DBPasswd, vesk::DBFile> op(path);
  if (!openLocked(op, run, path)) return kLocalFileFailed;
  vesk::DBPasswd record = op.find(run.targetName);
  if (record.isEmpty()) {
    std::fprintf(stderr, "%s: cannot find user %s\n", run.progName.c_str(), run.targetName.c_str());
    return kLocalRefused;
  }
  record.password = run.storedHash;
  const bool updated = op.update(record);
  const bool committed = op.commit();
  return updated && committed ? kLocalChanged : kLocalFileFailed;
}
