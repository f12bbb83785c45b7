#include "system_crypt.h"

#include <crypt.h>

#include <cerrno>

namespace vesk {

SystemCrypt::SystemCrypt() noexcept : scratch_(SecretBlock::allocate(sizeof(struct crypt_data))) {}

const char* SystemCrypt::hash(const char* phrase, const char* setting) noexcept {
  if (!scratch_) {
    errno = ENOMEM;
    return nullptr;
  }
  auto* data = reinterpret_cast<struct crypt_data*>(scratch_.data());
  errno = 0;
  const char* text = crypt_rn(phrase, setting, data, static_cast<int>(sizeof *data));
  if (text == nullptr || text[0] == '*' || text[0] == '\0') {
    if (errno == 0) {
      errno = EINVAL;
    }
    return nullptr;
  }
  return text;
}

}  // namespace vesk
