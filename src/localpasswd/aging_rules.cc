#include "aging_rules.h"

#include <cstdio>

namespace {

constexpr long long kSecondsPerDay = 86400;

}  // namespace

AgingVerdict checkAgingRules(const std::optional<ShadowAging>& shadow, long long now) {
  if (!shadow) return AgingVerdict::kPermitted;
  const ShadowAging& s = *shadow;
  const long long today = now / kSecondsPerDay;
  if (s.expiry > 0 && today > s.expiry) return AgingVerdict::kCannotChange;
  if (s.lastChange > 0 && s.maxAge >= 0 && s.inactivePeriod >= 0 &&
      today > s.lastChange + s.maxAge + s.inactivePeriod) {
    return AgingVerdict::kCannotChange;
  }
  if (!s.hash.empty() && s.hash[0] == '!') return AgingVerdict::kCannotChange;
  if (s.maxAge >= 0 && s.minAge > s.maxAge) return AgingVerdict::kCannotChange;
  const long long minAge = s.minAge < 0 ? 0 : s.minAge;
  const long long earliest = (s.lastChange + minAge) * kSecondsPerDay;
  if (earliest > now) return AgingVerdict::kCannotChangeYet;
  return AgingVerdict::kPermitted;
}

void printAgingRefusal(AgingVerdict verdict, const std::string& name) {
  if (verdict == AgingVerdict::kCannotChange) {
    std::fprintf(stderr, "The password for %s cannot be changed.\n", name.c_str());
  } else if (verdict == AgingVerdict::kCannotChangeYet) {
    std::fprintf(stderr, "The password for %s cannot be changed yet.\n", name.c_str());
  }
}
