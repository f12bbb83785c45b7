#include "secret_buffer.h"

#include <cstring>
#include <new>
#include <utility>

namespace vesk {

void wipeBytes(void* data, std::size_t n) noexcept {
  if (data != nullptr && n != 0) {
    explicit_bzero(data, n);
  }
}

SecretBuffer::SecretBuffer(SecretBuffer&& other) noexcept
    : bytes_(std::move(other.bytes_)), size_(std::exchange(other.size_, 0)) {}

SecretBuffer& SecretBuffer::operator=(SecretBuffer&& other) noexcept {
  if (this != &other) {
    release();
    bytes_ = std::move(other.bytes_);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

SecretBuffer SecretBuffer::allocate(std::size_t size) noexcept {
  SecretBuffer buffer;
  buffer.bytes_.reset(new (std::nothrow) char[size]());
  if (buffer.bytes_) {
    buffer.size_ = size;
  }
  return buffer;
}

void SecretBuffer::release() noexcept {
  wipeBytes(bytes_.get(), size_);
  bytes_.reset();
  size_ = 0;
}

}  // namespace vesk
