// Checking a typed password against a stored hash, choosing the scheme of a new hash and making
// it. The schemes:
//   - MD5-crypt ("$1$"), computed here (md5_crypt.h);
//   - segmented DES (segmented_des.h), for traditional DES hashes and their longer segmented
//     form, and for every stored text that no other scheme claims ("", "x", "*", "!", ...);
//   - the system's own schemes, which libcrypt computes: SHA-256 ("$5$"), SHA-512 ("$6$"),
//     yescrypt ("$y$"), gost-yescrypt ("$gy$"), scrypt ("$7$"), bcrypt ("$2b$", "$2y$").
#pragma once

#include <string>

#include "secret_buffer.h"

namespace vesk {

enum class HashScheme {
  kSegmentedDes,
  kMd5,
  kSha256,
  kSha512,
  kYescrypt,
  kGostYescrypt,
  kScrypt,
  kBcrypt,   // "$2b$"
  kBcryptY,  // "$2y$"
};

// The prefix that marks a scheme's hashes ("" for segmented DES).
const char* hashSchemePrefix(HashScheme scheme) noexcept;

// The scheme a stored hash belongs to, by its prefix; kSegmentedDes for any text that carries
// none of the prefixes above.
HashScheme storedHashScheme(const char* stored) noexcept;

// Whether libcrypt computes the scheme (every scheme but MD5-crypt and segmented DES).
bool isSystemScheme(HashScheme scheme) noexcept;

struct Verification {
  bool matches = false;
  HashScheme scheme = HashScheme::kSegmentedDes;  // of the stored hash
  // False when the hash of a well-formed stored hash could not be computed: memory (or another
  // resource) ran out, so the result says nothing about the password.
  bool computed = true;

  bool isMd5() const noexcept { return scheme == HashScheme::kMd5; }
};

// Whether `typed` matches `stored`, and the stored hash's scheme:
//   - "$1$": the MD5-crypt of `typed` with `stored` as salt equals `stored` exactly, with the
//     standard MD5 or, failing that, with the host-order MD5;
//   - a system scheme: libcrypt's hash of `typed` with `stored` as setting equals `stored`
//     exactly;
//   - anything else: the first strlen(stored) characters of the segmented DES text of `typed`
//     with `stored` as salt equal `stored`; a shorter text does not match.
// A hash that cannot be computed (libcrypt refuses the setting, no memory) never matches: so
// "", "*", "!" and "x" match nothing. When the stored hash is well-formed for its scheme (libcrypt's
// crypt_checksalt accepts it, or it is MD5-crypt) and still cannot be computed, `computed` is
// false: libcrypt reports an allocation failure of yescrypt as an invalid setting, so the form of
// the setting is what tells the two apart. The comparison takes the same time wherever it differs.
Verification verifyPassword(const char* typed, const char* stored);

// The scheme of the new hash of a local account whose current stored hash is `stored` (as read
// from the account files, "" when empty), changed by root (`callerIsRoot`) or by the account's
// own user after verifyPassword accepted the old password, when the site asks for `configured`:
//   - never a scheme weaker than the stored one: a system scheme's hash at least as strong as
//     `configured` keeps its scheme, whoever the caller is (a weaker scheme would lower the
//     account's protection, and a segmented DES hash of more than 8 characters could not be
//     verified by the system's own login);
//   - `configured` when it is a system scheme;
//   - for kMd5 (the default): MD5-crypt when the caller is root, or the stored hash is empty or
//     MD5-based; otherwise (traditional or segmented DES, or any other text) segmented DES.
// Strength, weakest first: segmented DES, MD5-crypt, SHA-256, SHA-512, bcrypt, scrypt, yescrypt
// and gost-yescrypt.
HashScheme newHashScheme(const char* stored, bool callerIsRoot, HashScheme configured = HashScheme::kMd5) noexcept;

// A new stored hash, or an empty text and the reason.
struct NewHash {
  HashText text;
  std::string error;  // says why there is no text, e.g. "cannot obtain random bytes: ..."

  explicit operator bool() const noexcept { return static_cast<bool>(text); }
};

// Hashes `password` with a fresh salt under `scheme`:
//   - kMd5: md5Crypt with a salt from makeMd5Salt;
//   - kSegmentedDes: segmentedDesCrypt with the salt from makeDesSalt (a 2-character salt, so a
//     password longer than 8 characters gives a hash longer than 13);
//   - a system scheme: libcrypt's hash with a setting from crypt_gensalt_rn at the system's
//     default cost.
NewHash hashNewPassword(const char* password, HashScheme scheme);

}  // namespace vesk
