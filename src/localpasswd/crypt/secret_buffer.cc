#include "secret_buffer.h"

#include <cstring>
#include <new>
#include <utility>

namespace vesk {

SecretBlock::SecretBlock(SecretBlock&& other) noexcept
    : bytes_(std::move(other.bytes_)), size_(std::exchange(other.size_, 0)) {}

SecretBlock& SecretBlock::operator=(SecretBlock&& other) noexcept {
  if (this != &other) {
    release();
    bytes_ = std::move(other.bytes_);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

SecretBlock SecretBlock::allocate(std::size_t size) noexcept {
  SecretBlock buffer;
  buffer.bytes_.reset(new (std::nothrow) char[size]());
  if (buffer.bytes_) {
    buffer.size_ = size;
  }
  return buffer;
}

void SecretBlock::release() noexcept {
  wipeMemory(bytes_.get(), size_);
  bytes_.reset();
  size_ = 0;
}

}  // namespace vesk
