// Shredder must leave no copy of a secret in any memory it gives back: heap buffers released while
// growing or on destruction, and its inline buffer. The test replaces the global allocator with
// one that inspects every block handed back to it.
#include "shredder.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>

namespace {

// Distinctive bytes that appear nowhere else in the test's memory by chance.
constexpr char kMarker[] = "Zq7#secret#Zq7";
std::atomic<bool> watching{false};
std::atomic<int> releasedWhileWatching{0};
std::atomic<int> leakedCopies{0};

bool holdsMarker(const void* block, std::size_t size) {
  std::string_view bytes(static_cast<const char*>(block), size);
  return bytes.find(std::string_view(kMarker, 6)) != std::string_view::npos;
}

// size is the size the block was asked for when the caller says so; else all the block can hold.
void inspect(void* block, std::size_t size) {
  if (block == nullptr || !watching.load()) return;
  ++releasedWhileWatching;
  if (holdsMarker(block, size != 0 ? size : malloc_usable_size(block))) ++leakedCopies;
}

}  // namespace

void* operator new(std::size_t size) {
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  inspect(p, 0);
  std::free(p);
}
void operator delete(void* p, std::size_t size) noexcept {
  inspect(p, size);
  std::free(p);
}

namespace {

std::string secretOfLength(std::size_t length) {
  std::string text;
  text.reserve(length + sizeof kMarker);
  while (text.size() < length) text += kMarker;
  text.resize(length);
  return text;
}

TEST(ShredderTest, ReleasesNoCopyWhenGrowingReassigningAndDestroyed) {
  for (std::size_t length : {6u, 14u, 15u, 16u, 40u, 300u, 5000u}) {
    const std::string secret = secretOfLength(length);
    leakedCopies = 0;
    releasedWhileWatching = 0;
    watching = true;
    {
      vesk::Shredder grown(secret.c_str());
      for (int i = 0; i < 6; ++i) grown.append(secret);  // several reallocations
      vesk::Shredder copy(grown);
      vesk::Shredder moved(std::move(copy));
      moved = grown;
      moved = "short";
      grown.shrink_to_fit();
    }
    watching = false;
    EXPECT_EQ(leakedCopies.load(), 0) << "secret length " << length;
    explicit_bzero(const_cast<char*>(secret.data()), secret.size());  // the test's own copy
    if (length > 15) {
      EXPECT_GT(releasedWhileWatching.load(), 0);
    }
  }
}

TEST(ShredderTest, WipesInlineBufferOnDestructionAndOnMove) {
  alignas(vesk::Shredder) unsigned char storage[sizeof(vesk::Shredder)];
  alignas(vesk::Shredder) unsigned char source[sizeof(vesk::Shredder)];
  auto* shredder = new (storage) vesk::Shredder("Zq7#se");
  auto* from = new (source) vesk::Shredder("Zq7#se");
  {
    vesk::Shredder target(std::move(*from));
    EXPECT_EQ(target.view(), "Zq7#se");
  }
  EXPECT_FALSE(holdsMarker(source, sizeof source)) << "moved-from inline buffer still holds the secret";
  ASSERT_TRUE(holdsMarker(storage, sizeof storage));
  shredder->~Shredder();
  from->~Shredder();
  EXPECT_FALSE(holdsMarker(storage, sizeof storage));
}

}  // namespace
