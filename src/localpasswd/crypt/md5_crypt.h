// The "$1$" MD5-based crypt scheme: 1000 rounds of MD5 over the password, the salt and the
// previous digest; result "$1$", the salt, "$" and 22 alphabet characters.
#pragma once

#include <cstddef>

#include "secret_buffer.h"

namespace vesk {

// Size of the buffer that every MD5-crypt result comes in; the text itself is at most 34
// characters.
inline constexpr std::size_t kMd5CryptBufferSize = 120;
inline constexpr char kMd5CryptPrefix[] = "$1$";
inline constexpr std::size_t kMd5SaltMaxLength = 8;

// The MD5-crypt text of `password` (any bytes up to its NUL). The salt is taken from `salt`:
// a leading "$1$" is skipped, and the salt is what follows up to the first "$", the end of the
// text or 8 characters, whichever comes first. A stored hash can thus be passed as the salt,
// and any text is accepted as one. The result is empty only when no memory can be obtained.
HashText md5Crypt(const char* password, const char* salt);

// As md5Crypt, over Md5HostOrder (see md5.h): the same text on a little-endian host, another
// one on a big-endian host.
HashText md5CryptHostOrder(const char* password, const char* salt);

}  // namespace vesk
