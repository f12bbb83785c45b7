// Fuzz target: the decoder of a KDC's extended error (the e-data of a KRB-ERROR), which the agent
// reads from whatever answers on the KDC's address. Whatever the bytes, it must neither crash nor
// read outside them, and a status it finds must come from within them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "kerberos_results.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view edata(reinterpret_cast<const char*>(data), size);
  const auto status = vesk::agentd::extendedErrorStatus(edata);
  if (status) {
    unsigned char little[4];
    for (int i = 0; i < 4; ++i) little[i] = static_cast<unsigned char>(*status >> (8 * i));
    if (size < 4 || memmem(data, size, little, 4) == nullptr) std::abort();
  }
  return 0;
}
