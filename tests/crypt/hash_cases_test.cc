// How the two hash routines read their salt argument, and how long their results are.
#include <gtest/gtest.h>

#include <string>

#include "md5_crypt.h"
#include "segmented_des.h"
#include "xcrypt_reference.h"

namespace {

enum class Routine { kMd5Crypt, kSegmentedDes };

struct HashCase {
  const char* what;
  Routine routine;
  std::string password;
  std::string salt;
  std::size_t length;      // of the result
  std::string reference;   // libxcrypt setting whose hash of `password` the result starts with
  std::string sameAs = {};  // when set: the result equals that of this password with `salt`
};

std::string run(Routine routine, const std::string& password, const std::string& salt) {
  const vesk::HashText text = routine == Routine::kMd5Crypt
                                  ? vesk::md5Crypt(password.c_str(), salt.c_str())
                                  : vesk::segmentedDesCrypt(password.c_str(), salt.c_str());
  return std::string(text.view());
}

TEST(HashCasesTest, SaltArgumentsAndResultLengths) {
  const std::string storedMd5 = crypt_test::referenceCrypt("hunter2", "$1$Qw3.rt/9");
  const std::string storedDes = crypt_test::referenceCrypt("secretpw", "Xy");
  const std::string long130(130, 'k');
  const std::string long200 = long130 + std::string(70, 'q');

  const HashCase kCases[] = {
      {"a salt of eleven letters after $1$ is cut at eight", Routine::kMd5Crypt, "pw",
       "$1$abcdefghijk$", 34, "$1$abcdefgh"},
      {"the same eight letters without $1$ give the same hash", Routine::kMd5Crypt, "pw",
       "abcdefgh", 34, "$1$abcdefgh", "pw"},
      {"a stored MD5 hash as salt reproduces itself for the right password", Routine::kMd5Crypt,
       "hunter2", storedMd5, 34, storedMd5},
      {"$1$ alone gives an empty salt", Routine::kMd5Crypt, "pw", "$1$", 26, "$1$"},
      {"the salt ends at the end of the text", Routine::kMd5Crypt, "pw", "$1$ab", 28, "$1$ab$"},
      {"the salt ends at the first $", Routine::kMd5Crypt, "pw", "xy$zzzz", 28, "$1$xy"},
      {"a salt without $1$ is read from its first character", Routine::kMd5Crypt, "pw",
       "$5$abc", 26, "$1$"},
      {"an empty password gives one segment", Routine::kSegmentedDes, "", "ab", 13, "ab"},
      {"eight characters give one segment", Routine::kSegmentedDes, "12345678", "ab", 13, "ab"},
      {"nine characters and a 2-character salt give two segments", Routine::kSegmentedDes,
       "123456789", "ab", 24, "ab"},
      {"130 characters give sixteen segments", Routine::kSegmentedDes, long130, "ab", 178, "ab"},
      {"characters past the 128th are not used", Routine::kSegmentedDes, long200, "ab", 178,
       "ab", long130.substr(0, 128)},
      {"a 13-character salt cuts the password at eight characters", Routine::kSegmentedDes,
       "secretpwANYTHING", storedDes, 13, storedDes, "secretpw"},
      {"so a DES hash as salt reproduces itself", Routine::kSegmentedDes, "secretpw", storedDes,
       13, storedDes},
  };
  for (const HashCase& c : kCases) {
    SCOPED_TRACE(c.what);
    const std::string result = run(c.routine, c.password, c.salt);
    EXPECT_EQ(result.size(), c.length) << result;
    const std::string reference = crypt_test::referenceCrypt(c.password, c.reference);
    ASSERT_FALSE(reference.empty());
    EXPECT_EQ(result.substr(0, reference.size()), reference);
    if (!c.sameAs.empty()) {
      EXPECT_EQ(result, run(c.routine, c.sameAs, c.salt));
    }
  }
}

}  // namespace
