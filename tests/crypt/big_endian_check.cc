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
#include "segmented_des.h"
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

void checkMd5Crypt(const std::string& password, const std::string& setting) {
  const std::string where = "password length " + std::to_string(password.size()) + ", " + setting;
  const std::string standard(vesk::md5Crypt(password.c_str(), setting.c_str()).view());
  const std::string hostOrder(vesk::md5CryptHostOrder(password.c_str(), setting.c_str()).view());
  check(standard == crypt_test::referenceCrypt(password, setting),
        "md5Crypt equals libxcrypt: " + where);
  check(hostOrder.size() == standard.size() && hostOrder != standard,
        "md5CryptHostOrder differs from md5Crypt: " + where);
  for (const std::string& stored : {standard, hostOrder}) {
    const vesk::Verification right = vesk::verifyPassword(password.c_str(), stored.c_str());
    check(right.matches && right.isMd5(), "verification accepts " + stored + ": " + where);
    const std::string wrong = password + "x";
    check(!vesk::verifyPassword(wrong.c_str(), stored.c_str()).matches,
          "verification rejects a wrong password against " + stored);
  }
}

void checkSegmentedDes(const std::string& password, const std::string& salt) {
  const std::string result(vesk::segmentedDesCrypt(password.c_str(), salt.c_str()).view());
  check(result.substr(0, 13) == crypt_test::referenceCrypt(password.substr(0, 8), salt),
        "first DES segment, password length " + std::to_string(password.size()));
  for (std::size_t j = 1; 13 + 11 * j <= result.size(); ++j) {
    const std::string pieceSalt = result.substr(2 + 11 * (j - 1), 2);
    check(pieceSalt + result.substr(13 + 11 * (j - 1), 11) ==
              crypt_test::referenceCrypt(password.substr(8 * j, 8), pieceSalt),
          "DES segment " + std::to_string(j + 1));
  }
  check(vesk::verifyPassword(password.c_str(), result.c_str()).matches,
        "verification accepts a segmented DES hash");
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
    checkMd5Crypt(password, "$1$" + crypt_test::randomSalt(random, length % 9));
    checkSegmentedDes(password, crypt_test::randomSalt(random, 2));
  }
  for (vesk::HashScheme scheme : {vesk::HashScheme::kMd5, vesk::HashScheme::kSha512,
                                  vesk::HashScheme::kSegmentedDes}) {
    const vesk::NewHash made = vesk::hashNewPassword("new password", scheme);
    check(made && vesk::verifyPassword("new password", made.text.c_str()).matches,
          std::string("a new ") + vesk::hashSchemePrefix(scheme) + " hash verifies: " +
              made.error);
  }
  std::printf("%d checks, %d failed\n", checks, failures);
  return failures == 0 ? 0 : 1;
}
