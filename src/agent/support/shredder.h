// Shredder: a string for secrets that overwrites its characters before it lets go of them.
//
// Every buffer a Shredder ever releases is wiped: the heap buffers it drops when it grows,
// shrinks or is reassigned go through WipingAllocator, and its destructor wipes the buffer it
// holds at the end, including the inline short-string buffer that never reaches the allocator.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vesk {

// Overwrites n bytes with zeros in a way the compiler may not drop.
void wipeMemory(void* data, std::size_t n) noexcept;

template <typename T>
struct WipingAllocator {
  using value_type = T;

  WipingAllocator() noexcept = default;
  template <typename U>
  WipingAllocator(const WipingAllocator<U>&) noexcept {}

  T* allocate(std::size_t n) { return std::allocator<T>().allocate(n); }
  void deallocate(T* p, std::size_t n) noexcept {
    wipeMemory(p, n * sizeof(T));
    std::allocator<T>().deallocate(p, n);
  }

  template <typename U>
  bool operator==(const WipingAllocator<U>&) const noexcept { return true; }
};

using SecretString = std::basic_string<char, std::char_traits<char>, WipingAllocator<char>>;

// A byte buffer that wipes every block it lets go of.
using SecretBytes = std::vector<unsigned char, WipingAllocator<unsigned char>>;

class Shredder : public SecretString {
 public:
  Shredder() noexcept = default;
  Shredder(const char* text) : SecretString(text) {}
  Shredder(const char* text, std::size_t length) : SecretString(text, length) {}
  explicit Shredder(std::string_view text) : SecretString(text.data(), text.size()) {}
  Shredder(const Shredder&) = default;
  Shredder(Shredder&& other) noexcept : SecretString(std::move(other)) { other.shred(); }
  Shredder& operator=(const Shredder& other) {
    if (this != &other) {
      shred();
      SecretString::assign(other.data(), other.size());
    }
    return *this;
  }
  Shredder& operator=(Shredder&& other) noexcept {
    if (this != &other) {
      shred();
      SecretString::operator=(std::move(other));
      other.shred();
    }
    return *this;
  }
  Shredder& operator=(const char* text) {
    shred();
    SecretString::assign(text);
    return *this;
  }
  ~Shredder() { shred(); }

  std::string_view view() const noexcept { return {data(), size()}; }

  // Wipes every byte of the current buffer (up to its capacity) and empties the string.
  void shred() noexcept {
    wipeMemory(data(), capacity());
    clear();
  }
};

inline bool operator==(const Shredder& a, const Shredder& b) noexcept { return a.view() == b.view(); }

}  // namespace vesk
