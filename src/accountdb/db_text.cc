#include "db_text.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <new>

namespace vesk {
namespace {

// Frees a malloc'd buffer unless it was handed on.
struct Buffer {
  char* data = nullptr;
  ~Buffer() { std::free(data); }
};

}  // namespace

DBText::DBText(char* data, std::size_t size, std::string owned) noexcept
    : data_(data), size_(size), owned_(std::move(owned)), mallocd_(data != nullptr) {
  if (!mallocd_) data_ = owned_.data();
}

DBText::~DBText() {
  if (mallocd_) std::free(data_);
}

std::shared_ptr<const DBText> DBText::readAll(int fd) noexcept {
  struct stat status;
  if (fstat(fd, &status) != 0) return nullptr;
  // The size is a hint only: the file may be a pipe or change while it is read.
  std::size_t capacity = status.st_size > 0 ? static_cast<std::size_t>(status.st_size) + 1 : 4096;
  Buffer buffer;
  buffer.data = static_cast<char*>(std::malloc(capacity));
  if (buffer.data == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  std::size_t size = 0;
  for (;;) {
    if (size == capacity) {
      char* grown = static_cast<char*>(std::realloc(buffer.data, capacity * 2));
      if (grown == nullptr) {
        errno = ENOMEM;
        return nullptr;
      }
      buffer.data = grown;
      capacity *= 2;
    }
    const ssize_t n = read(fd, buffer.data + size, capacity - size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return nullptr;
    }
    if (n == 0) break;
    size += static_cast<std::size_t>(n);
  }
  try {
    auto text = std::make_shared<const DBText>(buffer.data, size, std::string());
    buffer.data = nullptr;
    return text;
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    return nullptr;
  }
}

std::shared_ptr<const DBText> DBText::fromString(std::string text) noexcept {
  try {
    return std::make_shared<const DBText>(nullptr, text.size(), std::move(text));
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    return nullptr;
  }
}

}  // namespace vesk
