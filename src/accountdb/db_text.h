// The bytes of one account file, held once in memory.
//
// A DBFile reads its whole file into one DBText when it is opened; an operator that loads the
// file shares the same text and keeps its records as positions in it, so that neither reading nor
// writing back copies the unchanged lines.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace vesk {

class DBText {
 public:
  // Reads fd from its current offset to its end. Null when reading fails or memory runs out, with
  // errno telling why.
  static std::shared_ptr<const DBText> readAll(int fd) noexcept;
  // A text that takes over the bytes of text. Null when memory runs out.
  static std::shared_ptr<const DBText> fromString(std::string text) noexcept;

  DBText(const DBText&) = delete;
  DBText& operator=(const DBText&) = delete;
  ~DBText();

  std::string_view view() const { return {data_, size_}; }
  std::size_t size() const { return size_; }

  // Construction goes through readAll and fromString; public only for make_shared.
  DBText(char* data, std::size_t size, std::string owned) noexcept;

 private:
  char* data_;         // malloc'd bytes of readAll, or owned_'s bytes
  std::size_t size_;
  std::string owned_;  // the bytes of fromString
  bool mallocd_;
};

}  // namespace vesk
