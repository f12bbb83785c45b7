// md5Crypt against libxcrypt's "$1$" scheme on random passwords and salts.
#include "md5_crypt.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "xcrypt_reference.h"

namespace {

TEST(Md5CryptTest, EqualsLibxcryptForRandomPasswordsAndSalts) {
  std::mt19937 random(20240501);
  std::uniform_int_distribution<std::size_t> passwordLength(0, 200);
  std::uniform_int_distribution<std::size_t> saltLength(0, 8);
  for (int trial = 0; trial < 2000; ++trial) {
    const std::string password = crypt_test::randomPassword(random, passwordLength(random));
    std::string setting = "$1$" + crypt_test::randomSalt(random, saltLength(random));
    if (trial % 2 == 0) {
      setting += "$";
    }
    const std::string expected = crypt_test::referenceCrypt(password, setting);
    ASSERT_FALSE(expected.empty()) << setting;

    const vesk::HashText text = vesk::md5Crypt(password.c_str(), setting.c_str());
    ASSERT_TRUE(text);
    ASSERT_EQ(text.view(), expected) << "trial " << trial << ", password length "
                                     << password.size() << ", setting " << setting;
    // On a little-endian host the host-order form is the same function.
    if (trial % 4 == 0) {
      EXPECT_EQ(vesk::md5CryptHostOrder(password.c_str(), setting.c_str()).view(), expected);
    }
  }
}

}  // namespace
