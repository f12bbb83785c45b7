// The bytes of one account file, held once in memory.
//
// A DBFile reads its whole file into one DBText when it is opened; an operator that loads the
// file shares the same text and keeps its records as positions in it, so that neither reading nor
// writing back copies the unchanged lines. A large file is read into memory of its own mapping
// that asks for huge pages: one fault per 2 MB instead of one per page, which is most of the
// cost of reading a file of a million lines.
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

  // Construction goes through readAll and fromString; public only for make_shared. data is
  // memory of a mapping of mapped bytes (see readAll), or null for the bytes of owned.
  DBText(char* data, std::size_t size, std::size_t mapped, std::string owned) noexcept;

 private:
  char* data_;         // the mapping of readAll, or owned_'s bytes
  std::size_t size_;
  std::size_t mapped_; // length of the mapping; 0 for owned_
  std::string owned_;  // the bytes of fromString
};

}  // namespace vesk
