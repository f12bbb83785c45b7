// The password hashes of the passwd personality: checking the old password, making the new hash.
#pragma once

#include <string>

#include "password_hash.h"
#include "shredder.h"

enum class OldPasswordCheck {
  kMatches,
  kWrong,
  kOutOfMemory,  // the hash could not be computed: nothing is known about the password
};

// Whether storedHash can match any password at all: false for an empty text, "x" (no shadow
// entry behind it), and hashes locked with "!" or disabled with "*".
bool hashCanVerify(const std::string& storedHash);

// Whether typed is the password of the stored hash.
OldPasswordCheck checkOldPassword(const vesk::Shredder& typed, const std::string& storedHash);

// Makes the new hash for password, in the scheme chosen from the account's stored hash, the
// caller and the scheme the site configured (hash_setting.h). On failure returns false with the
// reason in error.
bool makeNewHash(const vesk::Shredder& password, const std::string& storedHash, bool callerIsRoot,
                 vesk::HashScheme configured, std::string& hash, std::string& error);
