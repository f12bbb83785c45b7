// Ownership of one file descriptor.
#pragma once

#include <unistd.h>

namespace vesk::db {

// Owns one descriptor; the destructor closes it. close() reports the result of closing, which
// matters for files that were written.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(other.release()) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      close();
      fd_ = other.release();
    }
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { close(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes the descriptor (if any); false when close failed, with errno set.
  bool close() {
    if (fd_ < 0) return true;
    const int fd = release();
    return ::close(fd) == 0;
  }

 private:
  int fd_ = -1;
};

}  // namespace vesk::db
