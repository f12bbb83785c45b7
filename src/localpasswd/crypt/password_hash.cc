#include "password_hash.h"

#include <crypt.h>

#include <cerrno>
#include <cstring>

#include "md5_crypt.h"
#include "salt.h"
#include "segmented_des.h"
#include "system_crypt.h"

namespace vesk {
namespace {

struct SchemePrefix {
  HashScheme scheme;
  const char* prefix;
};

constexpr SchemePrefix kPrefixes[] = {
    {HashScheme::kMd5, "$1$"},          {HashScheme::kSha256, "$5$"},
    {HashScheme::kSha512, "$6$"},       {HashScheme::kYescrypt, "$y$"},
    {HashScheme::kGostYescrypt, "$gy$"}, {HashScheme::kScrypt, "$7$"},
    {HashScheme::kBcrypt, "$2b$"},      {HashScheme::kBcryptY, "$2y$"},
};

// Whether the first `length` bytes of `computed` and `stored` agree, in a time that does not
// depend on where they differ. `computed` must hold at least `length` bytes.
bool sameBytes(const char* computed, const char* stored, std::size_t length) noexcept {
  unsigned char difference = 0;
  for (std::size_t i = 0; i < length; ++i) {
    difference |= static_cast<unsigned char>(computed[i] ^ stored[i]);
  }
  return difference == 0;
}

// Whether `computed` (null when it could not be computed) is exactly `stored`.
bool sameText(const char* computed, const char* stored) noexcept {
  if (computed == nullptr) {
    return false;
  }
  const std::size_t length = std::strlen(stored);
  return std::strlen(computed) == length && sameBytes(computed, stored, length);
}

std::string failure(const char* what, int error) {
  std::string text = what;
  text += ": ";
  text += std::strerror(error);
  return text;
}

int strength(HashScheme scheme) noexcept {
  switch (scheme) {
    case HashScheme::kSegmentedDes: return 0;
    case HashScheme::kMd5: return 1;
    case HashScheme::kSha256: return 2;
    case HashScheme::kSha512: return 3;
    case HashScheme::kBcrypt:
    case HashScheme::kBcryptY: return 4;
    case HashScheme::kScrypt: return 5;
    case HashScheme::kYescrypt:
    case HashScheme::kGostYescrypt: return 6;
  }
  return 0;
}

NewHash newHash(HashText text) { return NewHash{std::move(text), std::string()}; }

NewHash noHash(std::string error) { return NewHash{HashText(), std::move(error)}; }

NewHash systemHash(const char* password, HashScheme scheme) {
  char setting[CRYPT_GENSALT_OUTPUT_SIZE];
  if (crypt_gensalt_rn(hashSchemePrefix(scheme), 0, nullptr, 0, setting, sizeof setting) ==
      nullptr) {
    return noHash(failure("cannot make a salt", errno));
  }
  SystemCrypt crypt;
  const char* hash = crypt.hash(password, setting);
  if (hash == nullptr) {
    // The setting is libcrypt's own: unless the phrase is too long (ERANGE), what it refuses to
    // compute it had no memory for (it reports that as EINVAL).
    if (errno == ERANGE) return noHash(failure("the system's crypt cannot hash the password", errno));
    return noHash("out of memory");
  }
  HashText text = HashText::allocate(CRYPT_OUTPUT_SIZE);
  if (!text) {
    return noHash("cannot obtain memory for the hash");
  }
  std::strncpy(text.data(), hash, text.size() - 1);
  return newHash(std::move(text));
}

}  // namespace

const char* hashSchemePrefix(HashScheme scheme) noexcept {
  for (const SchemePrefix& entry : kPrefixes) {
    if (entry.scheme == scheme) {
      return entry.prefix;
    }
  }
  return "";
}

HashScheme storedHashScheme(const char* stored) noexcept {
  for (const SchemePrefix& entry : kPrefixes) {
    if (std::strncmp(stored, entry.prefix, std::strlen(entry.prefix)) == 0) {
      return entry.scheme;
    }
  }
  return HashScheme::kSegmentedDes;
}

bool isSystemScheme(HashScheme scheme) noexcept {
  return scheme != HashScheme::kMd5 && scheme != HashScheme::kSegmentedDes;
}

Verification verifyPassword(const char* typed, const char* stored) {
  Verification result;
  result.scheme = storedHashScheme(stored);
  if (result.scheme == HashScheme::kMd5) {
    HashText computed = md5Crypt(typed, stored);
    result.matches = computed && sameText(computed.c_str(), stored);
    if (computed && !result.matches) {
      computed = md5CryptHostOrder(typed, stored);
      result.matches = computed && sameText(computed.c_str(), stored);
    }
    result.computed = static_cast<bool>(computed);
  } else if (isSystemScheme(result.scheme)) {
    SystemCrypt crypt;
    const char* computed = crypt.hash(typed, stored);
    result.matches = sameText(computed, stored);
    result.computed = computed != nullptr || crypt_checksalt(stored) != CRYPT_SALT_OK;
  } else {
    const HashText computed = segmentedDesCrypt(typed, stored);
    const std::size_t length = std::strlen(stored);
    result.matches = computed && computed.view().size() >= length &&
                     sameBytes(computed.c_str(), stored, length);
    result.computed = computed || errno != ENOMEM;
  }
  return result;
}

HashScheme newHashScheme(const char* stored, bool callerIsRoot, HashScheme configured) noexcept {
  const HashScheme scheme = storedHashScheme(stored);
  if (isSystemScheme(scheme) && strength(scheme) >= strength(configured)) {
    return scheme;
  }
  if (isSystemScheme(configured)) {
    return configured;
  }
  if (callerIsRoot || stored[0] == '\0' || scheme == HashScheme::kMd5) {
    return HashScheme::kMd5;
  }
  return HashScheme::kSegmentedDes;
}

NewHash hashNewPassword(const char* password, HashScheme scheme) {
  switch (scheme) {
    case HashScheme::kMd5: {
      const std::optional<Md5Salt> salt = makeMd5Salt();
      if (!salt) {
        return noHash(failure("cannot obtain random bytes for the salt", errno));
      }
      HashText text = md5Crypt(password, salt->text);
      if (!text) {
        return noHash("cannot obtain memory for the hash");
      }
      return newHash(std::move(text));
    }
    case HashScheme::kSegmentedDes: {
      HashText text = segmentedDesCrypt(password, makeDesSalt());
      if (!text) {
        return noHash(errno == ENOMEM
                          ? std::string("cannot obtain memory for the hash")
                          : failure("the system's crypt cannot hash the password", errno));
      }
      return newHash(std::move(text));
    }
    default:
      return systemHash(password, scheme);
  }
}

}  // namespace vesk
