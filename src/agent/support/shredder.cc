#include "shredder.h"

#include <string.h>

namespace vesk {

void wipeMemory(void* data, std::size_t n) noexcept {
  if (data != nullptr && n != 0) {
    explicit_bzero(data, n);
  }
}

}  // namespace vesk
