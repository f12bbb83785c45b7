// Ownership of one file descriptor.
#pragma once

#include <unistd.h>

namespace vesk {

// Owns one descriptor; the destructor closes it. close() reports the result of closing, which
// matters for files that were written.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { close(); }

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
    return ::close(release()) == 0;
  }
  // Closes the descriptor held (ignoring the result) and takes fd.
  void reset(int fd = -1) {
    close();
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

}  // namespace vesk
