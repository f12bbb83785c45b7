#include "segmented_des.h"

#include <cerrno>
#include <cstring>

#include "system_crypt.h"

namespace vesk {
namespace {

constexpr std::size_t kSegmentKey = 8;
constexpr std::size_t kSaltLength = 2;
constexpr std::size_t kSegmentText = kDesHashLength - kSaltLength;

}  // namespace

HashText segmentedDesCrypt(const char* password, const char* salt) {
  HashText result = HashText::allocate(kSegmentedDesBufferSize);
  SystemCrypt crypt;
  if (!result || !crypt) {
    errno = ENOMEM;
    return HashText();
  }

  SecretArray<kSegmentedDesKeyLength + 1> key;
  std::size_t keyLength = strnlen(password, kSegmentedDesKeyLength);
  if (std::strlen(salt) == kDesHashLength && keyLength > kSegmentKey) {
    keyLength = kSegmentKey;
  }
  std::memcpy(key.data(), password, keyLength);
  const char* keyText = reinterpret_cast<const char*>(key.data());

  std::size_t segments = keyLength == 0 ? 1 : (keyLength - 1) / kSegmentKey + 1;
  if (segments > kSegmentedDesMaxSegments) {
    segments = kSegmentedDesMaxSegments;
  }

  char* out = result.data();
  const char* first = crypt.hash(keyText, salt);
  if (first == nullptr || std::strlen(first) < kDesHashLength) {
    return HashText();
  }
  std::memcpy(out, first, kDesHashLength);
  // Each further segment is salted with the previous segment's encrypted characters (crypt
  // takes the first two of them) and contributes the 11 characters after its salt.
  for (std::size_t j = 1; j < segments; ++j) {
    const char* previous = out + kSaltLength + (j - 1) * kSegmentText;
    const char* text = crypt.hash(keyText + j * kSegmentKey, previous);
    if (text == nullptr || std::strlen(text) < kDesHashLength) {
      return HashText();
    }
    std::memcpy(out + kDesHashLength + (j - 1) * kSegmentText, text + kSaltLength, kSegmentText);
  }
  return result;
}

}  // namespace vesk
