// The hashing routines on a big-endian host (built for s390x and run under qemu by
// run_s390x.sh): the standard MD5 still gives libxcrypt's "$1$" hashes, the host-order MD5 gives
// other hashes, and verification accepts hashes of either form. A plain
// program: GoogleTest is not at hand for the target.
#include <bit>
#include <cstdio>
#include <random>
#include <string>

#include "md5_crypt.h"
#include "password_hash.h"
#include "xcrypt_reference.h"

namespace {

int checks = 0;
int failures = 0;

void check(bool ok, const std::string& what) {
  ++checks;
  if (!ok) {
    ++failures;
    std::printf("FAILED: %s\n", what.c_str());
  }
}

}  // namespace

int main() {
  if constexpr (std::endian::native != std::endian::big) {
    std::printf("FAILED: this check must run on a big-endian host\n");
    return 1;
  }
  std::mt19937 random(5);
  for (std::size_t length : {0, 1, 7, 8, 15, 16, 17, 55, 56, 64, 130, 200}) {
    const std::string password = crypt_test::randomPassword(random, length);
    const std::string setting = "$1$" + crypt_test::randomSalt(random, length % 9);
    const std::string where = "password length " + std::to_string(length) + ", " + setting;
    const std::string standard(vesk::md5Crypt(password.c_str(), setting.c_str()).view());
    const std::string hostOrder(vesk::md5CryptHostOrder(password.c_str(), setting.c_str()).view());
    check(standard == crypt_test::referenceCrypt(password, setting), "md5Crypt equals libxcrypt: " + where);
    check(hostOrder.size() == standard.size() && hostOrder != standard, "host-order MD5 differs: " + where);
    for (const std::string& stored : {standard, hostOrder}) {
      const vesk::Verification right = vesk::verifyPassword(password.c_str(), stored.c_str());
      check(right.matches && right.isMd5(), "verification accepts " + stored + ": " + where);
      check(!vesk::verifyPassword((password + "x").c_str(), stored.c_str()).matches, "a wrong one against " + stored);
    }
  }
  std::printf("%d checks, %d failed\n", checks, failures);
  return failures == 0 ? 0 : 1;
}
