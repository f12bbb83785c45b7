#include "md5_crypt.h"

#include <cstdint>
#include <cstring>

#include "crypt_alphabet.h"
#include "md5.h"

namespace vesk {
namespace {

constexpr int kRounds = 1000;
constexpr std::size_t kDigestSize = 16;
constexpr std::size_t kBlockSize = 64;

// The message of one round is one of eight shapes, chosen by whether the round number is odd
// and whether it is divisible by 3 and by 7:
//   odd:  password [salt] [password] digest
//   even: digest [salt] [password] password
// Each shape is laid out once, padded and with its bit count, so that a round only writes the
// 16 digest bytes into it and folds its blocks. The leading blocks of an odd shape hold no
// digest bytes: their state is folded once, before the rounds.
struct RoundShape {
  std::size_t offset;        // of the padded message in the work area
  std::size_t digestOffset;  // of the digest within the message
  std::size_t firstBlock;    // first block that the rounds fold
  std::size_t blocks;        // blocks of the padded message
  std::uint32_t startState[4];
};

constexpr int shapeOf(int round) {
  return (round & 1) | (round % 3 != 0 ? 2 : 0) | (round % 7 != 0 ? 4 : 0);
}

std::size_t messageLength(int shape, std::size_t passwordLength, std::size_t saltLength) {
  return passwordLength + ((shape & 2) ? saltLength : 0) + ((shape & 4) ? passwordLength : 0) +
         kDigestSize;
}

std::size_t paddedLength(std::size_t length) { return ((length + 8) / kBlockSize + 1) * kBlockSize; }

template <Md5WordOrder Order>
void layOutShape(int shape, const char* password, std::size_t passwordLength, const char* salt,
                 std::size_t saltLength, unsigned char* message, RoundShape& out) {
  const bool odd = (shape & 1) != 0;
  const std::size_t length = messageLength(shape, passwordLength, saltLength);
  unsigned char* p = message;
  auto put = [&p](const void* bytes, std::size_t n) {
    std::memcpy(p, bytes, n);
    p += n;
  };
  if (odd) {
    put(password, passwordLength);
  } else {
    p += kDigestSize;
  }
  if (shape & 2) {
    put(salt, saltLength);
  }
  if (shape & 4) {
    put(password, passwordLength);
  }
  if (!odd) {
    put(password, passwordLength);
  }
  // The work area is zero-filled; the padding needs only its first byte and the bit count.
  message[length] = 0x80;
  const std::uint64_t bits = static_cast<std::uint64_t>(length) << 3;
  const std::size_t padded = paddedLength(length);
  for (int k = 0; k < 8; ++k) {
    message[padded - 8 + k] = static_cast<unsigned char>(bits >> (8 * k));
  }

  out.digestOffset = odd ? length - kDigestSize : 0;
  out.firstBlock = out.digestOffset / kBlockSize;
  out.blocks = padded / kBlockSize;
  std::memcpy(out.startState, BasicMd5<Order>::kInitialState, sizeof out.startState);
  for (std::size_t b = 0; b < out.firstBlock; ++b) {
    BasicMd5<Order>::compress(out.startState, message + b * kBlockSize);
  }
}

template <Md5WordOrder Order>
HashText md5CryptWith(const char* password, const char* salt) {
  HashText result = HashText::allocate(kMd5CryptBufferSize);
  if (!result) {
    return result;
  }
  if (std::strncmp(salt, kMd5CryptPrefix, 3) == 0) {
    salt += 3;
  }
  std::size_t saltLength = 0;
  while (saltLength < kMd5SaltMaxLength && salt[saltLength] != '\0' && salt[saltLength] != '$') {
    ++saltLength;
  }
  const std::size_t passwordLength = std::strlen(password);

  SecretArray<kDigestSize> digest;
  {
    SecretArray<kDigestSize> alternate;
    BasicMd5<Order> md5;
    md5.update(password, passwordLength);
    md5.update(salt, saltLength);
    md5.update(password, passwordLength);
    md5.final(alternate.data());

    md5.init();
    md5.update(password, passwordLength);
    md5.update(kMd5CryptPrefix, 3);
    md5.update(salt, saltLength);
    for (std::size_t left = passwordLength; left > 0; left -= left > 16 ? 16 : left) {
      md5.update(alternate.data(), left > 16 ? 16 : left);
    }
    static constexpr unsigned char kZero = 0;
    for (std::size_t bits = passwordLength; bits != 0; bits >>= 1) {
      md5.update((bits & 1) ? &kZero : reinterpret_cast<const unsigned char*>(password), 1);
    }
    md5.final(digest.data());
  }

  WipedValue<RoundShape[8]> shapes;
  std::size_t workSize = 0;
  for (int shape = 0; shape < 8; ++shape) {
    shapes.value[shape].offset = workSize;
    workSize += paddedLength(messageLength(shape, passwordLength, saltLength));
  }
  SecretBlock work = SecretBlock::allocate(workSize);
  if (!work) {
    return HashText();
  }
  for (int shape = 0; shape < 8; ++shape) {
    RoundShape& s = shapes.value[shape];
    layOutShape<Order>(shape, password, passwordLength, salt, saltLength, work.bytes() + s.offset,
                       s);
  }

  WipedValue<std::uint32_t[4]> state;
  for (int k = 0; k < 4; ++k) {
    state.value[k] = BasicMd5<Order>::loadWord(digest.data() + 4 * k);
  }
  for (int round = 0; round < kRounds; ++round) {
    const RoundShape& s = shapes.value[shapeOf(round)];
    unsigned char* message = work.bytes() + s.offset;
    for (int k = 0; k < 4; ++k) {
      BasicMd5<Order>::storeWord(message + s.digestOffset + 4 * k, state.value[k]);
    }
    std::uint32_t next[4] = {s.startState[0], s.startState[1], s.startState[2], s.startState[3]};
    for (std::size_t b = s.firstBlock; b < s.blocks; ++b) {
      BasicMd5<Order>::compress(next, message + b * kBlockSize);
    }
    std::memcpy(state.value, next, sizeof next);
  }
  for (int k = 0; k < 4; ++k) {
    BasicMd5<Order>::storeWord(digest.data() + 4 * k, state.value[k]);
  }

  char* out = result.data();
  std::memcpy(out, kMd5CryptPrefix, 3);
  out += 3;
  std::memcpy(out, salt, saltLength);
  out += saltLength;
  *out++ = '$';
  const unsigned char* d = digest.data();
  static constexpr int kTriples[5][3] = {{0, 6, 12}, {1, 7, 13}, {2, 8, 14}, {3, 9, 15}, {4, 10, 5}};
  for (const auto& t : kTriples) {
    out = encodeCryptChars(out, std::uint32_t{d[t[0]]} << 16 | std::uint32_t{d[t[1]]} << 8 | d[t[2]],
                           4);
  }
  out = encodeCryptChars(out, d[11], 2);
  *out = '\0';
  return result;
}

}  // namespace

HashText md5Crypt(const char* password, const char* salt) {
  return md5CryptWith<Md5WordOrder::kLittleEndian>(password, salt);
}

HashText md5CryptHostOrder(const char* password, const char* salt) {
  return md5CryptWith<Md5WordOrder::kHost>(password, salt);
}

}  // namespace vesk
