#include "account_update.h"

#include <time.h>

#include <cstdio>

#include "aging_rules.h"
#include "db_operator.h"
#include "db_records.h"
#include "update_problem.h"

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

// Locks, opens and loads the file of op; prints the cannot-open message on failure, followed by
// what keeps the lock when that is known.
template <typename Operator>
bool openLocked(Operator& op, const PasswdRun& run, const char* path) {
  if (op.lockOpenLoad()) return true;
  std::fprintf(stderr, "%s: cannot open %s\n", run.progName.c_str(), path);
  const std::string why = describeUpdateProblem(op.storage.lastProblem(), path);
  if (!why.empty()) std::fprintf(stderr, "%s: %s\n", run.progName.c_str(), why.c_str());
  return false;
}

// Commits op after update; keeps the line that tells what failed (or the warning of a change
// that took effect) for the closing message. kLocalChanged when both succeeded, otherwise
// kLocalChangeNotMade.
template <typename Operator>
LocalResult commitUpdate(Operator& op, bool updated, PasswdRun& run, const char* path) {
  const bool committed = op.commit();
  run.updateNote = describeUpdateProblem(op.storage.lastProblem(), path);
  return updated && committed ? kLocalChanged : kLocalChangeNotMade;
}

}  // namespace

LocalResult updateShadowPassword(PasswdRun& run, const char* path, bool recheckAging) {
  vesk::DBOperator<vesk::DBShadow, vesk::DBFile> op(path);
  if (!openLocked(op, run, path)) return kLocalChangeNotMade;
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
  return commitUpdate(op, updated, run, path);
}

LocalResult updatePasswdPassword(PasswdRun& run, const char* path) {
  vesk::DBOperator<vesk::DBPasswd, vesk::DBFile> op(path);
  if (!openLocked(op, run, path)) return kLocalChangeNotMade;
  vesk::DBPasswd record = op.find(run.targetName);
  if (record.isEmpty()) {
    std::fprintf(stderr, "%s: cannot find user %s\n", run.progName.c_str(), run.targetName.c_str());
    return kLocalRefused;
  }
  record.password = run.storedHash;
  const bool updated = op.update(record);
  return commitUpdate(op, updated, run, path);
}
