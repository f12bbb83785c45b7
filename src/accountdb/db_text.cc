#include "db_text.h"

#include <errno.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <new>

namespace vesk {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

// Anonymous memory of at least size bytes, unmapped unless handed on. Sizes of a huge page and
// more are rounded up to whole huge pages, which the kernel then places on a huge page boundary.
class Mapping {
 public:
  Mapping() = default;
  Mapping(const Mapping&) = delete;
  Mapping& operator=(const Mapping&) = delete;
  ~Mapping() {
    if (data_ != nullptr) ::munmap(data_, length_);
  }
  static std::size_t lengthFor(std::size_t size) {
    return size >= kHugePage ? (size + kHugePage - 1) / kHugePage * kHugePage : size;
  }
  bool allocate(std::size_t size) {
    length_ = lengthFor(size);
    void* p = ::mmap(nullptr, length_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) {
      data_ = nullptr;
      return false;
    }
    data_ = static_cast<char*>(p);
    // Only a hint: without huge pages the memory works the same.
    if (length_ >= kHugePage) ::madvise(data_, length_, MADV_HUGEPAGE);
    return true;
  }
  bool grow(std::size_t size) {
    const std::size_t length = lengthFor(size);
    void* p = ::mremap(data_, length_, length, MREMAP_MAYMOVE);
    if (p == MAP_FAILED) return false;
    data_ = static_cast<char*>(p);
    length_ = length;
    if (length_ >= kHugePage) ::madvise(data_, length_, MADV_HUGEPAGE);
    return true;
  }
  char* data() const { return data_; }
  std::size_t length() const { return length_; }
  char* release() {
    char* data = data_;
    data_ = nullptr;
    return data;
  }

 private:
  char* data_ = nullptr;
  std::size_t length_ = 0;
};

}  // namespace

DBText::DBText(char* data, std::size_t size, std::size_t mapped, std::string owned) noexcept
    : data_(data), size_(size), mapped_(mapped), owned_(std::move(owned)) {
  if (data_ == nullptr) {
    data_ = owned_.data();
    mapped_ = 0;
  }
}

DBText::~DBText() {
  if (mapped_ != 0) ::munmap(data_, mapped_);
}

std::shared_ptr<const DBText> DBText::readAll(int fd) noexcept {
  struct stat status;
  if (fstat(fd, &status) != 0) return nullptr;
  // The size is a hint only: the file may be a pipe or change while it is read.
  Mapping buffer;
  if (!buffer.allocate(status.st_size > 0 ? static_cast<std::size_t>(status.st_size) + 1 : 4096)) {
    errno = ENOMEM;
    return nullptr;
  }
  std::size_t size = 0;
  for (;;) {
    if (size == buffer.length() && !buffer.grow(buffer.length() * 2)) {
      errno = ENOMEM;
      return nullptr;
    }
    const ssize_t n = read(fd, buffer.data() + size, buffer.length() - size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return nullptr;
    }
    if (n == 0) break;
    size += static_cast<std::size_t>(n);
  }
  try {
    auto text = std::make_shared<const DBText>(buffer.data(), size, buffer.length(), std::string());
    buffer.release();
    return text;
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    return nullptr;
  }
}

std::shared_ptr<const DBText> DBText::fromString(std::string text) noexcept {
  try {
    return std::make_shared<const DBText>(nullptr, text.size(), 0, std::move(text));
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    return nullptr;
  }
}

}  // namespace vesk
