// The lines of one account file as an operator holds them.
//
// The text of the file is held once (shared with the DBFile that read it); each line is a position
// in it. A line is one of: an original line (its kind, record or not, is decided when a look-up
// first reaches it), a changed or added record (an index into the operator's own records), or a
// removed record. "+"/"-" compatibility lines are written after all others, in file order. Lines
// that are neither records nor compatibility lines (blank lines, comments, lines of the wrong field
// count, records without a name) stay original lines and are written back byte for byte at their
// place, as are all unchanged records.
//
// Lines are found lazily: a loaded file is one span of lines not yet looked at. A look-up searches
// the spans for the name at the start of a line and splits off only the line it finds, so that
// changing one record of a large file touches no other line; writing back copies the spans whole
// and picks out only their compatibility lines. Listing all records indexes every line.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db_entry.h"
#include "db_storage.h"
#include "db_text.h"

namespace vesk {

class DBLineTable {
 public:
  using Classifier = DBLineKind (*)(std::string_view);

  // States of a line; a state of 0 or more is the index of a changed or added record.
  static constexpr std::int32_t kUnread = -1;   // original line, kind not yet decided
  static constexpr std::int32_t kRecord = -2;   // original line that is a record
  static constexpr std::int32_t kOther = -3;    // original line that is no record
  static constexpr std::int32_t kRemoved = -4;  // removed record
  static constexpr std::int32_t kSpan = -5;     // whole original lines not yet looked at
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

  // An original line without its line end, or a span: whole lines with their line ends.
  struct Line {
    std::uint64_t offset;
    std::uint32_t length;
    std::int32_t state;
  };

  // Forgets all lines and the text.
  void clear() noexcept;
  // Takes the lines of source from its current record to its end. A DBFile hands over its text
  // at once; other storages are read record by record. False when source is not open or memory
  // runs out (then the table is empty).
  bool load(DBStorage& source, Classifier classify) noexcept;

  // Index of the first record named name, or kNone. nameOf(slot) gives the name of a changed
  // record. Indices stay valid until generation() changes.
  template <typename NameOf>
  std::size_t findRecord(std::string_view name, Classifier classify, const NameOf& nameOf);
  // Changes whenever indices of lines may have moved.
  std::uint64_t generation() const { return generation_; }

  Line& line(std::size_t index) { return lines_[index]; }
  std::string_view textOf(const Line& line) const { return text_->view().substr(line.offset, line.length); }
  // Appends a changed record (slot) after all lines.
  void appendChanged(std::int32_t slot) { lines_.push_back(Line{0, 0, slot}); }

  // The bytes of the file to write, in order, as pieces of the text and of formatted (indexed by
  // slot), each line followed by "\n". Consecutive unchanged lines form one piece.
  void pieces(const std::vector<std::string>& formatted, std::vector<std::string_view>& out) const;
  // The same content as one string per line, without line ends.
  void lines(const std::vector<std::string>& formatted, std::vector<std::string>& out) const;

  // Calls visit(text, slot) for every record in file order: slot is -1 for an original record
  // (text is its line) and the slot of a changed or added record otherwise.
  void forEachRecord(Classifier classify, const std::function<void(std::string_view, std::int32_t)>& visit);

 private:
  // Replaces every span by its lines (compatibility lines go to compat_).
  void indexAll();
  // Appends the lines of text [begin, end) to out and its compatibility lines to compat_.
  void indexRange(std::size_t begin, std::size_t end, std::vector<Line>& out);
  // Where the line of span that starts at offset ends (its line end, or the end of the span).
  std::size_t lineEnd(const Line& span, std::size_t offset) const;
  // The compatibility lines in span, in file order.
  void compatLinesOf(const Line& span, std::vector<Line>& out) const;
  // Splits lines_[index], a span, around its line [offset, end) and returns that line's index.
  std::size_t splitSpan(std::size_t index, std::size_t offset, std::size_t end, std::int32_t state);
  // The first record named name in lines_[index], a span, or kNone.
  std::size_t findInSpan(std::size_t index, std::string_view name);

  std::shared_ptr<const DBText> text_;
  Classifier classify_ = nullptr;
  std::vector<Line> lines_;
  std::vector<Line> compat_;
  std::uint64_t generation_ = 0;
};

template <typename NameOf>
std::size_t DBLineTable::findRecord(std::string_view name, Classifier classify, const NameOf& nameOf) {
  // No record has an empty name or one that holds a field or line separator.
  if (name.empty() || name.find_first_of(":\n") != std::string_view::npos) return kNone;
  const char* base = text_ ? text_->view().data() : nullptr;
  const std::size_t size = name.size();
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    Line& line = lines_[i];
    if (line.state >= 0) {
      if (nameOf(line.state) == name) return i;
      continue;
    }
    if (line.state == kSpan) {
      const std::size_t found = findInSpan(i, name);
      if (found != kNone) return found;
      continue;
    }
    if (line.state != kUnread && line.state != kRecord) continue;
    const char* start = base + line.offset;
    // The separator and the last character rule out most lines before a full comparison.
    if (line.length <= size || start[size] != ':' || start[size - 1] != name[size - 1] ||
        std::memcmp(start, name.data(), size - 1) != 0) {
      continue;
    }
    if (line.state == kUnread) line.state = classify(textOf(line)) == DBLineKind::Record ? kRecord : kOther;
    if (line.state == kRecord) return i;
  }
  return kNone;
}

}  // namespace vesk
