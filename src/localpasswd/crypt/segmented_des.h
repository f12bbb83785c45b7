// Segmented DES crypt: the system's traditional DES crypt applied to each 8-character piece of
// a password of up to 128 characters, each piece salted with the previous piece's result.
// Result: 13 characters for the first piece (2 salt characters and 11 more), then 11 for each
// further piece; at most 16 pieces, 178 characters.
#pragma once

#include <cstddef>

#include "secret_buffer.h"

namespace vesk {

// Size of the zero-filled buffer that every segmented DES result comes in.
inline constexpr std::size_t kSegmentedDesBufferSize = 179;
// Password characters taken into the key; of these, the first 128 are used.
inline constexpr std::size_t kSegmentedDesKeyLength = 130;
inline constexpr std::size_t kSegmentedDesMaxSegments = 16;
// Length of a traditional DES hash; such a salt cuts the key at 8 characters.
inline constexpr std::size_t kDesHashLength = 13;

// The segmented DES text of `password` with `salt` (the system's crypt uses its first two
// characters). A salt of exactly 13 characters, a traditional DES hash, cuts the password at 8
// characters, so that such a hash verifies as the system's crypt would. Empty when no memory
// can be obtained or when the system's crypt refuses the salt (errno says which).
HashText segmentedDesCrypt(const char* password, const char* salt);

}  // namespace vesk
