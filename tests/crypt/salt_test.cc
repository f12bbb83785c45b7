#include "salt.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "crypt_alphabet.h"

namespace {

bool inAlphabet(char c) { return c != '\0' && std::strchr(vesk::kCryptAlphabet, c) != nullptr; }

TEST(SaltTest, CryptCharMapsSixBitsOntoTheAlphabet) {
  const struct {
    unsigned value;
    char expected;
  } kMap[] = {{0, '.'}, {1, '/'}, {2, '0'}, {11, '9'}, {12, 'A'},
              {37, 'Z'}, {38, 'a'}, {63, 'z'}, {64, '.'}, {0x1ff, 'z'}};
  for (const auto& entry : kMap) {
    EXPECT_EQ(vesk::cryptChar(entry.value), entry.expected) << entry.value;
  }
}

TEST(SaltTest, Md5SaltsArePrefixAndEightAlphabetCharactersAndNeverRepeat) {
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    const std::optional<vesk::Md5Salt> salt = vesk::makeMd5Salt();
    ASSERT_TRUE(salt);
    const std::string text = salt->text;
    ASSERT_EQ(text.size(), 11u) << text;
    EXPECT_EQ(text.substr(0, 3), "$1$");
    for (char c : text.substr(3)) {
      EXPECT_TRUE(inAlphabet(c)) << text;
    }
    seen.insert(text);
  }
  EXPECT_EQ(seen.size(), 200u);
}

TEST(SaltTest, DesSaltsAreTwoAlphabetCharactersInOneBufferThatEachCallRewrites) {
  const char* first = vesk::makeDesSalt();
  std::set<std::string> seen;
  for (int i = 0; i < 50; ++i) {
    const char* salt = vesk::makeDesSalt();
    EXPECT_EQ(salt, first);
    ASSERT_EQ(std::strlen(salt), 2u);
    EXPECT_TRUE(inAlphabet(salt[0]) && inAlphabet(salt[1])) << salt;
    seen.insert(salt);
  }
  // The accumulator grows by at least the process id on every call.
  EXPECT_GT(seen.size(), 1u);
}

}  // namespace
