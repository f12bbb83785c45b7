#include "md5.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <random>
#include <string>

namespace {

std::string hex(const unsigned char (&digest)[16]) {
  std::string text;
  for (unsigned char byte : digest) {
    char two[3];
    std::snprintf(two, sizeof two, "%02x", byte);
    text += two;
  }
  return text;
}

template <typename Context>
std::string hexDigest(const std::string& message) {
  Context md5;
  md5.update(message.data(), message.size());
  unsigned char digest[16];
  md5.final(digest);
  return hex(digest);
}

TEST(Md5Test, GivesTheRfc1321DigestsInBothFormsOnALittleEndianHost) {
  static_assert(std::endian::native == std::endian::little,
                "the big-endian run is tests/crypt/big_endian_check.cc");
  const struct {
    std::string message;
    const char* digest;
  } kSuite[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
      {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21"},
  };
  for (const auto& entry : kSuite) {
    EXPECT_EQ(hexDigest<vesk::Md5>(entry.message), entry.digest) << entry.message.size();
    EXPECT_EQ(hexDigest<vesk::Md5HostOrder>(entry.message), entry.digest) << entry.message.size();
  }
}

TEST(Md5Test, PiecewiseUpdatesGiveTheDigestOfTheWholeMessage) {
  std::mt19937 random(7);
  std::string message(3000, '\0');
  for (char& c : message) {
    c = static_cast<char>(random());
  }
  const std::string whole = hexDigest<vesk::Md5>(message);
  for (int trial = 0; trial < 20; ++trial) {
    vesk::Md5 md5;
    for (std::size_t at = 0; at < message.size();) {
      const std::size_t piece = std::min<std::size_t>(random() % 130, message.size() - at);
      md5.update(message.data() + at, piece);
      at += piece;
    }
    unsigned char digest[16];
    md5.final(digest);
    EXPECT_EQ(hex(digest), whole) << "trial " << trial;
  }
}

}  // namespace
