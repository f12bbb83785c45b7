#include "password_hash.h"

#include <crypt.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "segmented_des.h"
#include "xcrypt_reference.h"

namespace {

using vesk::HashScheme;

constexpr HashScheme kSystemSchemes[] = {
    HashScheme::kSha256,       HashScheme::kSha512, HashScheme::kYescrypt,
    HashScheme::kGostYescrypt, HashScheme::kScrypt, HashScheme::kBcrypt,
    HashScheme::kBcryptY,
};

TEST(PasswordHashTest, VerifyAcceptsTheRightPasswordAndRejectsAWrongOneInEveryScheme) {
  struct Stored {
    HashScheme scheme;
    std::string hash;
  };
  std::vector<Stored> stored = {
      {HashScheme::kMd5, crypt_test::referenceCrypt("right pw", "$1$Zz0.salt")},
      {HashScheme::kSegmentedDes, crypt_test::referenceCrypt("right pw", "Ab")},
      {HashScheme::kSegmentedDes,
       std::string(vesk::segmentedDesCrypt("right pw and more", "Ab").view())},
  };
  for (HashScheme scheme : kSystemSchemes) {
    const std::string setting = crypt_test::referenceSetting(vesk::hashSchemePrefix(scheme));
    ASSERT_FALSE(setting.empty()) << vesk::hashSchemePrefix(scheme);
    stored.push_back({scheme, crypt_test::referenceCrypt("right pw", setting)});
  }
  for (const Stored& s : stored) {
    SCOPED_TRACE(s.hash);
    ASSERT_FALSE(s.hash.empty());
    const std::string right = s.hash.size() > 13 && s.scheme == HashScheme::kSegmentedDes
                                  ? "right pw and more"
                                  : "right pw";
    const vesk::Verification accepted = vesk::verifyPassword(right.c_str(), s.hash.c_str());
    EXPECT_TRUE(accepted.matches);
    EXPECT_EQ(accepted.scheme, s.scheme);
    EXPECT_EQ(accepted.isMd5(), s.scheme == HashScheme::kMd5);
    for (const char* wrong : {"", "right p", "right pW", "Right pw and more"}) {
      const vesk::Verification rejected = vesk::verifyPassword(wrong, s.hash.c_str());
      EXPECT_FALSE(rejected.matches) << wrong;
      EXPECT_EQ(rejected.scheme, s.scheme);
    }
  }
}

TEST(PasswordHashTest, VerifyAcceptsAnyPasswordWithTheRightFirstEightCharactersForADesHash) {
  const std::string stored = crypt_test::referenceCrypt("eightchr", "q.");
  EXPECT_TRUE(vesk::verifyPassword("eightchr", stored.c_str()).matches);
  EXPECT_TRUE(vesk::verifyPassword("eightchr and whatever follows", stored.c_str()).matches);
  EXPECT_FALSE(vesk::verifyPassword("eightch", stored.c_str()).matches);
}

TEST(PasswordHashTest, VerifyRejectsEverythingAgainstHashesThatCannotBeComputed) {
  const std::string bcryptA =
      crypt_test::referenceCrypt("right pw", crypt_test::referenceSetting("$2a$"));
  const char* kStored[] = {"*", "!", "x", "!!", "*LK*", "", "$1$", "$1$abc", "$1$abc$",
                           "$1$abc$short", "$1$a:b$0123456789012345678901", "!$1$Zz0.salt$",
                           // a scheme that is none of ours is compared as segmented DES
                           bcryptA.c_str()};
  const char* kTyped[] = {"", "x", "*", "!", "*0", "right pw", "$1$abc", "$1$"};
  for (const char* stored : kStored) {
    for (const char* typed : kTyped) {
      EXPECT_FALSE(vesk::verifyPassword(typed, stored).matches)
          << "typed \"" << typed << "\" against \"" << stored << "\"";
    }
  }
}

TEST(PasswordHashTest, NewHashSchemeIsNeverWeakerThanTheStoredOrTheConfiguredOne) {
  const std::string sha512 = crypt_test::referenceCrypt("pw", "$6$abcdefgh");
  const std::string yescrypt = crypt_test::referenceCrypt("pw", crypt_test::referenceSetting("$y$"));
  const struct {
    std::string stored;
    bool root;
    HashScheme expected;
    HashScheme configured = HashScheme::kMd5;
  } kCases[] = {
      {sha512, false, HashScheme::kYescrypt, HashScheme::kYescrypt},
      {yescrypt, true, HashScheme::kYescrypt, HashScheme::kSha512},
      {"$5$abc$def", false, HashScheme::kSha512, HashScheme::kSha512},
      {"abJnggxhB/yWI", false, HashScheme::kSha512, HashScheme::kSha512},
      {"", true, HashScheme::kYescrypt, HashScheme::kYescrypt},
      {sha512, false, HashScheme::kSha512},
      {sha512, true, HashScheme::kSha512},
      {yescrypt, true, HashScheme::kYescrypt},
      {"$gy$j9T$abc$def", false, HashScheme::kGostYescrypt},
      {"$7$CU..../....abc$def", false, HashScheme::kScrypt},
      {"$5$abc$def", true, HashScheme::kSha256},
      {"$2b$05$abcdefghijklmnopqrstuv", false, HashScheme::kBcrypt},
      {"$2y$05$abcdefghijklmnopqrstuv", true, HashScheme::kBcryptY},
      {"$1$abc$0123456789012345678901", false, HashScheme::kMd5},
      {"$1$abc$0123456789012345678901", true, HashScheme::kMd5},
      {"", false, HashScheme::kMd5},
      {"abJnggxhB/yWI", false, HashScheme::kSegmentedDes},
      {"abJnggxhB/yWI", true, HashScheme::kMd5},
      {"abJnggxhB/yWIXXXXXXXXXXX", false, HashScheme::kSegmentedDes},
      {"x", false, HashScheme::kSegmentedDes},
      {"x", true, HashScheme::kMd5},
      {"*", false, HashScheme::kSegmentedDes},
      {"*", true, HashScheme::kMd5},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(vesk::newHashScheme(c.stored.c_str(), c.root, c.configured), c.expected)
        << c.stored << (c.root ? " by root" : " by its user") << " configured " << static_cast<int>(c.configured);
  }
}

TEST(PasswordHashTest, NewHashesVerifyAndCarryTheirScheme) {
  std::vector<HashScheme> schemes(std::begin(kSystemSchemes), std::end(kSystemSchemes));
  schemes.push_back(HashScheme::kMd5);
  schemes.push_back(HashScheme::kSegmentedDes);
  for (HashScheme scheme : schemes) {
    for (const char* password : {"", "short", "a password of many more than eight characters"}) {
      SCOPED_TRACE(std::string(vesk::hashSchemePrefix(scheme)) + " of \"" + password + "\"");
      const vesk::NewHash made = vesk::hashNewPassword(password, scheme);
      ASSERT_TRUE(made) << made.error;
      const std::string hash(made.text.view());
      EXPECT_EQ(vesk::storedHashScheme(hash.c_str()), scheme) << hash;
      const vesk::Verification check = vesk::verifyPassword(password, hash.c_str());
      EXPECT_TRUE(check.matches) << hash;
      EXPECT_EQ(check.scheme, scheme);
      if (scheme == HashScheme::kSegmentedDes) {
        const std::size_t length = std::strlen(password);
        EXPECT_EQ(hash.size(), length <= 8 ? 13u : 13 + 11 * ((length - 1) / 8)) << hash;
      } else {
        // Everything but segmented DES is the system's own format.
        EXPECT_EQ(crypt_test::referenceCrypt(password, hash), hash);
      }
    }
  }
}

TEST(PasswordHashTest, HashesThatTheSystemsCryptRefusesAreNoHashes) {
  const std::string tooLong(1000, 'p');
  const vesk::NewHash refused = vesk::hashNewPassword(tooLong.c_str(), HashScheme::kSha512);
  EXPECT_FALSE(refused);
  EXPECT_FALSE(refused.text);
  EXPECT_NE(refused.error.find("the system's crypt cannot hash the password"), std::string::npos)
      << refused.error;

  for (const char* salt : {"*", "!", "x", "", "a", "a:", "$1$a:b"}) {
    EXPECT_FALSE(vesk::segmentedDesCrypt("pw", salt)) << "salt \"" << salt << "\"";
  }
}

}  // namespace
