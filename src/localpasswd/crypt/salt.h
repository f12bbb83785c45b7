// Salts for new hashes: an MD5-crypt salt ("$1$" and 8 characters) and a traditional DES salt
// (2 characters).
#pragma once

#include <optional>

namespace vesk {

// "$1$", 8 alphabet characters and a NUL, in the 16 bytes that the salt digest also reads.
struct Md5Salt {
  char text[16];
};

// A fresh MD5-crypt salt: the first 8 bytes of an MD5 digest over the time of day, the process
// id, the processor time used and 16 fresh random bytes, each taken as an alphabet character.
// Nothing when the system gives no random bytes (errno says why).
std::optional<Md5Salt> makeMd5Salt();

// A fresh 2-character DES salt derived from a process-wide accumulator of the time, the
// processor time and the process id. The text lives in a process-wide buffer that the next call
// overwrites; single-threaded use only.
const char* makeDesSalt();

}  // namespace vesk
