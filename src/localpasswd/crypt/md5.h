// MD5 (RFC 1321) in two forms that differ only in how 32-bit words meet bytes.
//
// Md5 is the standard digest: each 64-byte block is read as sixteen little-endian words and
// the state words are written to the digest little-endian, on any host. Md5HostOrder reads the
// block words and writes the digest words in the host's own byte order; everything else,
// padding and the little-endian bit count included, is the same byte stream. On a
// little-endian host both give the RFC digests; on a big-endian host Md5HostOrder gives other
// values, which MD5-crypt hashes made there by host-order code carry.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vesk {

enum class Md5WordOrder { kLittleEndian, kHost };

template <Md5WordOrder Order>
class BasicMd5 {
 public:
  static constexpr std::size_t kBlockSize = 64;
  static constexpr std::size_t kDigestSize = 16;

  BasicMd5() noexcept { init(); }
  BasicMd5(const BasicMd5&) = delete;
  BasicMd5& operator=(const BasicMd5&) = delete;
  // The context holds password-derived state; it is wiped.
  ~BasicMd5();

  void init() noexcept;
  void update(const void* data, std::size_t length) noexcept;
  // Pads, writes the 16-byte digest and wipes the context (init() makes it usable again).
  void final(unsigned char digest[kDigestSize]) noexcept;

  // The compression function alone: folds one 64-byte block into the four state words.
  static void compress(std::uint32_t state[4], const unsigned char block[kBlockSize]) noexcept;
  // Reads or writes one word of a block or digest in this form's byte order.
  static std::uint32_t loadWord(const unsigned char* bytes) noexcept;
  static void storeWord(unsigned char* bytes, std::uint32_t word) noexcept;
  // The four words a context starts from.
  static constexpr std::uint32_t kInitialState[4] = {0x67452301u, 0xefcdab89u, 0x98badcfeu,
                                                     0x10325476u};

 private:
  std::uint32_t state_[4];
  std::uint32_t count_[2];  // message length in bits, low word first
  unsigned char buffer_[kBlockSize];
};

using Md5 = BasicMd5<Md5WordOrder::kLittleEndian>;
using Md5HostOrder = BasicMd5<Md5WordOrder::kHost>;


// The compression function and the word access are inline so that the crypt loops fold blocks
// without a call per block.

template <Md5WordOrder Order>
inline std::uint32_t BasicMd5<Order>::loadWord(const unsigned char* bytes) noexcept {
  std::uint32_t word;
  std::memcpy(&word, bytes, sizeof word);
  if constexpr (Order == Md5WordOrder::kLittleEndian && std::endian::native == std::endian::big) {
    word = __builtin_bswap32(word);
  }
  return word;
}

template <Md5WordOrder Order>
inline void BasicMd5<Order>::storeWord(unsigned char* bytes, std::uint32_t word) noexcept {
  if constexpr (Order == Md5WordOrder::kLittleEndian && std::endian::native == std::endian::big) {
    word = __builtin_bswap32(word);
  }
  std::memcpy(bytes, &word, sizeof word);
}

namespace md5_steps {

// One step of each round: a = b + ((a + f(b, c, d) + x + t) <<< s).
template <int S>
inline void f(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d, std::uint32_t x,
              std::uint32_t t) noexcept {
  a = b + std::rotl(a + (d ^ (b & (c ^ d))) + x + t, S);
}
template <int S>
inline void g(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d, std::uint32_t x,
              std::uint32_t t) noexcept {
  // (b & d) | (c & ~d): the two terms share no bit, so they may be added independently.
  a = b + std::rotl(a + x + t + (c & ~d) + (b & d), S);
}
template <int S>
inline void h(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d, std::uint32_t x,
              std::uint32_t t) noexcept {
  a = b + std::rotl(a + (b ^ c ^ d) + x + t, S);
}
template <int S>
inline void i(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d, std::uint32_t x,
              std::uint32_t t) noexcept {
  a = b + std::rotl(a + (c ^ (b | ~d)) + x + t, S);
}

}  // namespace md5_steps

template <Md5WordOrder Order>
inline void BasicMd5<Order>::compress(std::uint32_t state[4],
                                      const unsigned char block[kBlockSize]) noexcept {
  using namespace md5_steps;
  std::uint32_t x[16];
  for (int k = 0; k < 16; ++k) {
    x[k] = loadWord(block + 4 * k);
  }
  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];

  f<7>(a, b, c, d, x[0], 0xd76aa478u);
  f<12>(d, a, b, c, x[1], 0xe8c7b756u);
  f<17>(c, d, a, b, x[2], 0x242070dbu);
  f<22>(b, c, d, a, x[3], 0xc1bdceeeu);
  f<7>(a, b, c, d, x[4], 0xf57c0fafu);
  f<12>(d, a, b, c, x[5], 0x4787c62au);
  f<17>(c, d, a, b, x[6], 0xa8304613u);
  f<22>(b, c, d, a, x[7], 0xfd469501u);
  f<7>(a, b, c, d, x[8], 0x698098d8u);
  f<12>(d, a, b, c, x[9], 0x8b44f7afu);
  f<17>(c, d, a, b, x[10], 0xffff5bb1u);
  f<22>(b, c, d, a, x[11], 0x895cd7beu);
  f<7>(a, b, c, d, x[12], 0x6b901122u);
  f<12>(d, a, b, c, x[13], 0xfd987193u);
  f<17>(c, d, a, b, x[14], 0xa679438eu);
  f<22>(b, c, d, a, x[15], 0x49b40821u);

  g<5>(a, b, c, d, x[1], 0xf61e2562u);
  g<9>(d, a, b, c, x[6], 0xc040b340u);
  g<14>(c, d, a, b, x[11], 0x265e5a51u);
  g<20>(b, c, d, a, x[0], 0xe9b6c7aau);
  g<5>(a, b, c, d, x[5], 0xd62f105du);
  g<9>(d, a, b, c, x[10], 0x02441453u);
  g<14>(c, d, a, b, x[15], 0xd8a1e681u);
  g<20>(b, c, d, a, x[4], 0xe7d3fbc8u);
  g<5>(a, b, c, d, x[9], 0x21e1cde6u);
  g<9>(d, a, b, c, x[14], 0xc33707d6u);
  g<14>(c, d, a, b, x[3], 0xf4d50d87u);
  g<20>(b, c, d, a, x[8], 0x455a14edu);
  g<5>(a, b, c, d, x[13], 0xa9e3e905u);
  g<9>(d, a, b, c, x[2], 0xfcefa3f8u);
  g<14>(c, d, a, b, x[7], 0x676f02d9u);
  g<20>(b, c, d, a, x[12], 0x8d2a4c8au);

  h<4>(a, b, c, d, x[5], 0xfffa3942u);
  h<11>(d, a, b, c, x[8], 0x8771f681u);
  h<16>(c, d, a, b, x[11], 0x6d9d6122u);
  h<23>(b, c, d, a, x[14], 0xfde5380cu);
  h<4>(a, b, c, d, x[1], 0xa4beea44u);
  h<11>(d, a, b, c, x[4], 0x4bdecfa9u);
  h<16>(c, d, a, b, x[7], 0xf6bb4b60u);
  h<23>(b, c, d, a, x[10], 0xbebfbc70u);
  h<4>(a, b, c, d, x[13], 0x289b7ec6u);
  h<11>(d, a, b, c, x[0], 0xeaa127fau);
  h<16>(c, d, a, b, x[3], 0xd4ef3085u);
  h<23>(b, c, d, a, x[6], 0x04881d05u);
  h<4>(a, b, c, d, x[9], 0xd9d4d039u);
  h<11>(d, a, b, c, x[12], 0xe6db99e5u);
  h<16>(c, d, a, b, x[15], 0x1fa27cf8u);
  h<23>(b, c, d, a, x[2], 0xc4ac5665u);

  i<6>(a, b, c, d, x[0], 0xf4292244u);
  i<10>(d, a, b, c, x[7], 0x432aff97u);
  i<15>(c, d, a, b, x[14], 0xab9423a7u);
  i<21>(b, c, d, a, x[5], 0xfc93a039u);
  i<6>(a, b, c, d, x[12], 0x655b59c3u);
  i<10>(d, a, b, c, x[3], 0x8f0ccc92u);
  i<15>(c, d, a, b, x[10], 0xffeff47du);
  i<21>(b, c, d, a, x[1], 0x85845dd1u);
  i<6>(a, b, c, d, x[8], 0x6fa87e4fu);
  i<10>(d, a, b, c, x[15], 0xfe2ce6e0u);
  i<15>(c, d, a, b, x[6], 0xa3014314u);
  i<21>(b, c, d, a, x[13], 0x4e0811a1u);
  i<6>(a, b, c, d, x[4], 0xf7537e82u);
  i<10>(d, a, b, c, x[11], 0xbd3af235u);
  i<15>(c, d, a, b, x[2], 0x2ad7d2bbu);
  i<21>(b, c, d, a, x[9], 0xeb86d391u);

  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

extern template class BasicMd5<Md5WordOrder::kLittleEndian>;
extern template class BasicMd5<Md5WordOrder::kHost>;

}  // namespace vesk
