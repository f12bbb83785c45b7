// The state of one run of the passwd personality.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

#include "local_result.h"
#include "shredder.h"

// The aging fields of a shadow entry, in days since 1970-01-01; -1 where the field is empty.
struct ShadowAging {
  std::string hash;
  long long lastChange = -1;
  long long minAge = -1;
  long long maxAge = -1;
  long long warnPeriod = -1;
  long long inactivePeriod = -1;
  long long expiry = -1;
};

struct PasswdRun {
  std::string progName;
  std::string callerName;
  uid_t callerUid = 0;
  std::string targetName;
  // The account's current hash; after hashing, the new hash to write.
  std::string storedHash;
  bool inShadow = false;
  // The target's shadow entry, when storedHash came from one.
  std::optional<ShadowAging> shadow;
  vesk::Shredder newPassword;
  // A line for the user after the closing message of an update: what failed, or a warning.
  std::string updateNote;
  // Set when the agent could not tell whether the target is a directory account: why not.
  std::string directoryOutage;
  bool outageOfRealm = false;  // the agent answered; the domain's servers failed it
};

// Longest account name and password accepted. Longer ones are refused, never cut: a cut name can
// be another account, and a cut password is not the one the user typed.
inline constexpr std::size_t kMaxNameLength = 63;
inline constexpr std::size_t kMaxPasswordLength = 127;
