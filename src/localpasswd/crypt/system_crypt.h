// The system's crypt (libcrypt) over scratch memory of our own. libcrypt's plain crypt keeps its
// state in a static area; this owner's area is wiped when it goes.
#pragma once

#include "secret_buffer.h"

namespace vesk {

class SystemCrypt {
 public:
  // Obtains zeroed scratch memory; without it the owner converts to false and hash() refuses.
  SystemCrypt() noexcept;

  explicit operator bool() const noexcept { return static_cast<bool>(scratch_); }

  // The hash of `phrase` under `setting`, valid until the next call or the owner's end. Null,
  // with errno set, when crypt refuses the setting or the phrase: libcrypt's failure texts
  // (beginning with "*") never come back from here.
  const char* hash(const char* phrase, const char* setting) noexcept;

 private:
  SecretBlock scratch_;
};

}  // namespace vesk
