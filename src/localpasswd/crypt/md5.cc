#include "md5.h"

#include "secret_buffer.h"

namespace vesk {

template <Md5WordOrder Order>
BasicMd5<Order>::~BasicMd5() {
  wipeMemory(this, sizeof *this);
}

template <Md5WordOrder Order>
void BasicMd5<Order>::init() noexcept {
  std::memcpy(state_, kInitialState, sizeof state_);
  count_[0] = 0;
  count_[1] = 0;
}

template <Md5WordOrder Order>
void BasicMd5<Order>::update(const void* data, std::size_t length) noexcept {
  const auto* input = static_cast<const unsigned char*>(data);
  std::size_t used = (count_[0] >> 3) & (kBlockSize - 1);

  const std::uint64_t bits = (static_cast<std::uint64_t>(count_[1]) << 32 | count_[0]) +
                             (static_cast<std::uint64_t>(length) << 3);
  count_[0] = static_cast<std::uint32_t>(bits);
  count_[1] = static_cast<std::uint32_t>(bits >> 32);

  if (used != 0) {
    const std::size_t room = kBlockSize - used;
    if (length < room) {
      std::memcpy(buffer_ + used, input, length);
      return;
    }
    std::memcpy(buffer_ + used, input, room);
    compress(state_, buffer_);
    input += room;
    length -= room;
  }
  for (; length >= kBlockSize; input += kBlockSize, length -= kBlockSize) {
    compress(state_, input);
  }
  if (length != 0) {
    std::memcpy(buffer_, input, length);
  }
}

template <Md5WordOrder Order>
void BasicMd5<Order>::final(unsigned char digest[kDigestSize]) noexcept {
  // The bit count is appended little-endian, low word first, in both forms.
  unsigned char length[8];
  for (int k = 0; k < 4; ++k) {
    length[k] = static_cast<unsigned char>(count_[0] >> (8 * k));
    length[4 + k] = static_cast<unsigned char>(count_[1] >> (8 * k));
  }
  static constexpr unsigned char kPadding[kBlockSize] = {0x80};
  const std::size_t used = (count_[0] >> 3) & (kBlockSize - 1);
  update(kPadding, used < 56 ? 56 - used : 120 - used);
  update(length, sizeof length);
  for (int k = 0; k < 4; ++k) {
    storeWord(digest + 4 * k, state_[k]);
  }
  wipeMemory(this, sizeof *this);
}

template class BasicMd5<Md5WordOrder::kLittleEndian>;
template class BasicMd5<Md5WordOrder::kHost>;

}  // namespace vesk
