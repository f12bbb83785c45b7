#include "salt.h"

#include <sys/random.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>

#include "crypt_alphabet.h"
#include "md5.h"
#include "md5_crypt.h"
#include "secret_buffer.h"

namespace vesk {
namespace {

constexpr std::size_t kRandomBytes = 16;

// Fills `out` with random bytes from the kernel; false (errno set) when it cannot.
bool randomBytes(unsigned char* out, std::size_t size) {
  std::size_t filled = 0;
  while (filled < size) {
    const ssize_t got = getrandom(out + filled, size - filled, 0);
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    filled += static_cast<std::size_t>(got);
  }
  return true;
}

template <typename T>
void feed(Md5& md5, T value) {
  md5.update(&value, sizeof value);
}

std::uint64_t desSaltAccumulator = 0;
char desSalt[3];

}  // namespace

std::optional<Md5Salt> makeMd5Salt() {
  static_assert(sizeof(Md5Salt::text) >= 3 + kMd5SaltMaxLength + 1);
  SecretArray<kRandomBytes> random;
  if (!randomBytes(random.data(), random.size())) {
    return std::nullopt;
  }
  Md5 md5;
  // The time of day as two 8-byte host-order fields, seconds then microseconds; a clock that
  // cannot be read contributes zeros, the random bytes carry the salt's strength.
  struct timeval now {};
  if (gettimeofday(&now, nullptr) != 0) {
    now = {};
  }
  feed(md5, static_cast<std::int64_t>(now.tv_sec));
  feed(md5, static_cast<std::int64_t>(now.tv_usec));
  feed(md5, static_cast<std::int32_t>(getpid()));
  feed(md5, static_cast<std::uint32_t>(std::clock()));
  md5.update(random.data(), random.size());
  SecretArray<Md5::kDigestSize> digest;
  md5.final(digest.data());

  Md5Salt salt{};
  std::memcpy(salt.text, kMd5CryptPrefix, 3);
  for (std::size_t i = 0; i < kMd5SaltMaxLength; ++i) {
    salt.text[3 + i] = cryptChar(digest[i]);
  }
  return salt;
}

const char* makeDesSalt() {
  // Added modulo 2^64: a failing clock (-1) is as good a summand as any.
  desSaltAccumulator += static_cast<std::uint64_t>(std::time(nullptr));
  desSaltAccumulator += static_cast<std::uint64_t>(std::clock());
  desSaltAccumulator += static_cast<std::uint64_t>(getpid());
  const std::uint64_t x = desSaltAccumulator;
  desSalt[0] = cryptChar(static_cast<std::uint32_t>((x >> 18) ^ (x >> 6)));
  desSalt[1] = cryptChar(static_cast<std::uint32_t>((x >> 12) ^ x));
  desSalt[2] = '\0';
  return desSalt;
}

}  // namespace vesk
