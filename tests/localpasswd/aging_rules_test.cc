#include "aging_rules.h"

#include <gtest/gtest.h>

namespace {

constexpr long long kDay = 86400;
constexpr long long kToday = 20000;  // a day number
constexpr long long kNow = kToday * kDay + 3600;

ShadowAging entry(long long lastChange, long long minAge, long long maxAge, long long inactive, long long expiry,
                  const char* hash = "$1$salt$hash") {
  return ShadowAging{hash, lastChange, minAge, maxAge, -1, inactive, expiry};
}

TEST(AgingRulesTest, VerdictsFollowTheShadowFields) {
  using V = AgingVerdict;
  const struct {
    const char* what;
    ShadowAging shadow;
    V verdict;
  } table[] = {
      {"no limits", entry(-1, -1, -1, -1, -1), V::kPermitted},
      {"expiry day 1, long past", entry(kToday - 100, 0, 99999, -1, 1), V::kCannotChange},
      {"expiry day 0 means none", entry(kToday - 100, 0, 99999, -1, 0), V::kPermitted},
      {"expiry today is not after it", entry(kToday - 100, 0, 99999, -1, kToday), V::kPermitted},
      {"inactive period over since yesterday", entry(kToday - 100, 0, 50, 49, -1), V::kCannotChange},
      {"inactive period ends today", entry(kToday - 100, 0, 50, 50, -1), V::kPermitted},
      {"no inactive period: never inactive", entry(kToday - 100, 0, 50, -1, -1), V::kPermitted},
      {"locked hash", entry(-1, -1, -1, -1, -1, "!$1$salt$hash"), V::kCannotChange},
      {"minimum above maximum", entry(kToday - 100, 10, 5, -1, -1), V::kCannotChange},
      {"minimum 5 days, changed today", entry(kToday, 5, 99999, -1, -1), V::kCannotChangeYet},
      {"minimum 5 days, changed 5 days ago", entry(kToday - 5, 5, 99999, -1, -1), V::kPermitted},
      {"minimum 5 days, changed 4 days ago", entry(kToday - 4, 5, 99999, -1, -1), V::kCannotChangeYet},
      {"negative minimum counts as 0", entry(kToday, -1, 99999, -1, -1), V::kPermitted},
      {"last change in the future", entry(kToday + 1, 0, 99999, -1, -1), V::kCannotChangeYet},
  };
  for (const auto& row : table) {
    EXPECT_EQ(checkAgingRules(row.shadow, kNow), row.verdict) << row.what;
  }
  EXPECT_EQ(checkAgingRules(std::nullopt, kNow), V::kPermitted) << "no shadow entry";
}

}  // namespace
