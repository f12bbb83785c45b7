// The hashing routines against the system's libxcrypt: every hash made here is the one libxcrypt
// makes, and every stored hash verifies only with its own password.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>

#include "md5_crypt.h"
#include "password_hash.h"
#include "salt.h"
#include "segmented_des.h"
#include "xcrypt_reference.h"

namespace {

using vesk::HashScheme;

TEST(HashTest, Md5CryptEqualsLibxcryptForRandomPasswordsAndSalts) {
  std::mt19937 random(20240501);
  for (int trial = 0; trial < 2000; ++trial) {
    const std::string password = crypt_test::randomPassword(random, random() % 201);
    // Salts up to eleven characters, ended by "$" or by the end of the text.
    std::string setting = "$1$" + crypt_test::randomSalt(random, random() % 12) + (trial % 2 == 0 ? "$" : "");
    const std::string expected = crypt_test::referenceCrypt(password, setting);
    ASSERT_FALSE(expected.empty()) << setting;
    ASSERT_EQ(vesk::md5Crypt(password.c_str(), setting.c_str()).view(), expected) << "trial " << trial;
    if (trial % 4 == 0) {  // on a little-endian host the host-order form is the same function
      ASSERT_EQ(vesk::md5CryptHostOrder(password.c_str(), setting.c_str()).view(), expected);
    }
  }
}

TEST(HashTest, EverySegmentIsTheDesCryptOfItsPieceWithThePreviousSegmentAsSalt) {
  std::mt19937 random(20240502);
  for (int trial = 0; trial < 2000; ++trial) {
    const std::string password = crypt_test::randomPassword(random, random() % 201);
    const std::string salt = crypt_test::randomSalt(random, 2);
    const std::string result(vesk::segmentedDesCrypt(password.c_str(), salt.c_str()).view());
    const std::size_t key = std::min<std::size_t>(password.size(), 128);
    const std::size_t segments = key == 0 ? 1 : (key + 7) / 8;
    ASSERT_EQ(result.size(), 13 + 11 * (segments - 1)) << "password length " << password.size();
    for (std::size_t j = 0; j < segments; ++j) {
      const std::string pieceSalt = j == 0 ? salt : result.substr(2 + 11 * (j - 1), 2);
      const std::string piece = password.substr(std::min(8 * j, password.size()), 8);
      const std::string segment = j == 0 ? result.substr(0, 13) : pieceSalt + result.substr(13 + 11 * (j - 1), 11);
      ASSERT_EQ(segment, crypt_test::referenceCrypt(piece, pieceSalt)) << "trial " << trial << ", segment " << j;
    }
  }
}

TEST(HashTest, NewHashesAreTheSystemsAndVerifyOnlyWithTheirPassword) {
  for (HashScheme scheme : {HashScheme::kMd5, HashScheme::kSegmentedDes, HashScheme::kSha512, HashScheme::kYescrypt,
                            HashScheme::kBcrypt}) {
    for (const char* password : {"", "short", "a password of many more than eight characters"}) {
      SCOPED_TRACE(std::string(vesk::hashSchemePrefix(scheme)) + " of \"" + password + "\"");
      const vesk::NewHash made = vesk::hashNewPassword(password, scheme);
      ASSERT_TRUE(made) << made.error;
      const std::string hash(made.text.view());
      EXPECT_EQ(vesk::storedHashScheme(hash.c_str()), scheme) << hash;
      EXPECT_TRUE(vesk::verifyPassword(password, hash.c_str()).matches) << hash;
      EXPECT_FALSE(vesk::verifyPassword((std::string(password) + "x").c_str(), hash.c_str()).matches) << hash;
      EXPECT_TRUE(scheme == HashScheme::kSegmentedDes || crypt_test::referenceCrypt(password, hash) == hash) << hash;
    }
  }
  std::set<std::string> salts;
  for (int i = 0; i < 200; ++i) salts.insert(vesk::makeMd5Salt()->text);
  EXPECT_EQ(salts.size(), 200u) << "salts repeat";
}

TEST(HashTest, LockedOrMalformedHashesAcceptNoPassword) {
  const std::string bcryptA = crypt_test::referenceCrypt("right pw", crypt_test::referenceSetting("$2a$"));
  for (const char* stored : {"*", "!", "x", "!!", "*LK*", "", "$1$", "$1$abc", "$1$abc$", "$1$abc$short",
                             "$1$a:b$0123456789012345678901", "!$1$Zz0.salt$", bcryptA.c_str()}) {
    for (const char* typed : {"", "x", "*", "!", "right pw", "$1$abc", "$1$"}) {
      EXPECT_FALSE(vesk::verifyPassword(typed, stored).matches) << "\"" << typed << "\" against \"" << stored << "\"";
    }
  }
  const std::string locked = "!" + crypt_test::referenceCrypt("right pw", "$1$Zz0.salt");
  EXPECT_FALSE(vesk::verifyPassword("right pw", locked.c_str()).matches);
}

}  // namespace
