// Owners of the buffers that the hashing routines fill with passwords, digests and hash texts.
// Both overwrite their bytes with zeros before they let go of them.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#include "shredder.h"

namespace vesk {

// A fixed-size array on the stack, zero at construction and wiped at destruction.
template <std::size_t N>
class SecretArray {
 public:
  SecretArray() noexcept = default;
  SecretArray(const SecretArray&) = delete;
  SecretArray& operator=(const SecretArray&) = delete;
  ~SecretArray() { wipeMemory(bytes_, N); }

  unsigned char* data() noexcept { return bytes_; }
  const unsigned char* data() const noexcept { return bytes_; }
  unsigned char& operator[](std::size_t i) noexcept { return bytes_[i]; }
  unsigned char operator[](std::size_t i) const noexcept { return bytes_[i]; }
  static constexpr std::size_t size() noexcept { return N; }

 private:
  unsigned char bytes_[N] = {};
};

// A trivially copyable value on the stack, value-initialised and wiped at destruction.
template <typename T>
class WipedValue {
 public:
  WipedValue() noexcept = default;
  WipedValue(const WipedValue&) = delete;
  WipedValue& operator=(const WipedValue&) = delete;
  ~WipedValue() { wipeMemory(&value, sizeof value); }

  T value{};
};

// A heap buffer of fixed size, zero-filled when obtained and wiped when released. An empty
// SecretBlock (no memory could be obtained, or moved from) converts to false.
class SecretBlock {
 public:
  SecretBlock() noexcept = default;
  SecretBlock(SecretBlock&& other) noexcept;
  SecretBlock& operator=(SecretBlock&& other) noexcept;
  ~SecretBlock() { release(); }

  // A zero-filled buffer of `size` bytes, or an empty one when the memory cannot be obtained.
  static SecretBlock allocate(std::size_t size) noexcept;

  explicit operator bool() const noexcept { return bytes_ != nullptr; }
  char* data() noexcept { return bytes_.get(); }
  const char* data() const noexcept { return bytes_.get(); }
  unsigned char* bytes() noexcept { return reinterpret_cast<unsigned char*>(bytes_.get()); }
  std::size_t size() const noexcept { return size_; }

  // The NUL-terminated text at the start of the buffer ("" when empty).
  const char* c_str() const noexcept { return bytes_ ? bytes_.get() : ""; }
  std::string_view view() const noexcept { return c_str(); }

 private:
  void release() noexcept;

  std::unique_ptr<char[]> bytes_;
  std::size_t size_ = 0;
};

// A hash text handed to the caller, NUL-terminated inside its buffer.
using HashText = SecretBlock;

}  // namespace vesk
