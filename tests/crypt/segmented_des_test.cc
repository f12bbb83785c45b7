// segmentedDesCrypt against libxcrypt's DES crypt, one segment at a time.
#include "segmented_des.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "xcrypt_reference.h"

namespace {

TEST(SegmentedDesTest, EverySegmentIsTheDesCryptOfItsPieceWithThePreviousSegmentAsSalt) {
  std::mt19937 random(20240502);
  std::uniform_int_distribution<std::size_t> passwordLength(0, 200);
  for (int trial = 0; trial < 2000; ++trial) {
    const std::string password = crypt_test::randomPassword(random, passwordLength(random));
    const std::string salt = crypt_test::randomSalt(random, 2);
    const vesk::HashText text = vesk::segmentedDesCrypt(password.c_str(), salt.c_str());
    ASSERT_TRUE(text);
    const std::string result(text.view());

    const std::size_t key = std::min<std::size_t>(password.size(), 130);
    const std::size_t segments = std::min<std::size_t>(key == 0 ? 1 : (key + 7) / 8, 16);
    ASSERT_EQ(result.size(), 13 + 11 * (segments - 1)) << "password length " << password.size();
    for (std::size_t j = 0; j < segments; ++j) {
      const std::string pieceSalt = j == 0 ? salt : result.substr(2 + 11 * (j - 1), 2);
      const std::string piece = password.substr(std::min(8 * j, password.size()), 8);
      const std::string segment = j == 0 ? result.substr(0, 13) : pieceSalt + result.substr(13 + 11 * (j - 1), 11);
      ASSERT_EQ(segment, crypt_test::referenceCrypt(piece, pieceSalt))
          << "trial " << trial << ", segment " << j + 1 << " of " << segments;
    }
  }
}

}  // namespace
