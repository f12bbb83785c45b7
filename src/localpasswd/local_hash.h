// The password hashes of the passwd personality: checking the old password, making the new hash.
#pragma once

#include <string>

#include "shredder.h"

// True when typed is the password of the stored hash.
bool oldPasswordMatches(const vesk::Shredder& typed, const std::string& storedHash);

// Whether storedHash can match any password at all: false for an empty text, "x" (no shadow
// entry behind it), and hashes locked with "!" or disabled with "*".
bool hashCanVerify(const std::string& storedHash);

// Makes the new hash for password, in the scheme chosen from the account's stored hash and the
// caller. On failure returns false with the reason in error.
bool makeNewHash(const vesk::Shredder& password, const std::string& storedHash, bool callerIsRoot,
                 std::string& hash, std::string& error);
