// The 64-character alphabet of salts and crypt results, and the 6-bit encoding over it.
#pragma once

#include <cstdint>

namespace vesk {

inline constexpr char kCryptAlphabet[] =
    "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// The alphabet character of the low 6 bits of `value` (0 is '.', 1 is '/', 63 is 'z').
constexpr char cryptChar(std::uint32_t value) noexcept { return kCryptAlphabet[value & 63]; }

// Writes `count` characters for `value`, least significant 6 bits first; returns the end.
constexpr char* encodeCryptChars(char* out, std::uint32_t value, int count) noexcept {
  for (int i = 0; i < count; ++i) {
    *out++ = cryptChar(value);
    value >>= 6;
  }
  return out;
}

}  // namespace vesk
