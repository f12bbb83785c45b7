// The password aging rules of a shadow entry.
#pragma once

#include <optional>

#include "passwd_run.h"

enum class AgingVerdict {
  kPermitted,
  kCannotChange,     // expired, inactive, locked ("!") or an impossible minimum age
  kCannotChangeYet,  // the minimum age has not passed since the last change
};

// Decides whether the password of the account with this shadow entry (none: no rules) may be
// changed at time now (seconds since 1970-01-01).
AgingVerdict checkAgingRules(const std::optional<ShadowAging>& shadow, long long now);

// Prints the refusal of a verdict other than kPermitted for account name on standard error.
void printAgingRefusal(AgingVerdict verdict, const std::string& name);
