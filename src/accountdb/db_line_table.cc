#include "db_line_table.h"

#include <limits>
#include <new>

#include "db_file.h"

namespace vesk {

void DBLineTable::clear() noexcept {
  text_.reset();
  std::vector<Line>().swap(lines_);
  std::vector<Line>().swap(compat_);
}

bool DBLineTable::load(DBStorage& source, Classifier classify) noexcept {
  clear();
  if (!source.isOpen()) return false;
  try {
    if (auto* file = dynamic_cast<DBFile*>(&source)) {
      DBTextRest rest = file->takeRest();
      text_ = std::move(rest.text);
      if (!text_) return false;
      if (index(rest.offset, classify)) return true;
    } else {
      std::string all;
      while (source.hasRecord()) {
        all += source.getRecord();
        all += '\n';
        source.next();
      }
      text_ = DBText::fromString(std::move(all));
      if (text_ && index(0, classify)) return true;
    }
  } catch (const std::bad_alloc&) {
  }
  clear();
  return false;
}

bool DBLineTable::index(std::size_t offset, Classifier classify) {
  const std::string_view all = text_->view();
  // Account lines are rarely shorter than this; a short guess only costs a reallocation.
  lines_.reserve((all.size() - offset) / 48 + 16);
  const char* base = all.data();
  const char* end = base + all.size();
  const char* p = base + offset;
  while (p < end) {
    const char* newline = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
    const char* lineEnd = newline != nullptr ? newline : end;
    const std::size_t length = static_cast<std::size_t>(lineEnd - p);
    if (length > std::numeric_limits<std::uint32_t>::max()) return false;
    const Line line{static_cast<std::uint64_t>(p - base), static_cast<std::uint32_t>(length), kUnread};
    if (length > 0 && (*p == '+' || *p == '-') && classify(std::string_view(p, length)) == DBLineKind::Compat) {
      compat_.push_back(line);
    } else {
      lines_.push_back(line);
    }
    p = newline != nullptr ? newline + 1 : end;
  }
  return true;
}

void DBLineTable::pieces(const std::vector<std::string>& formatted, std::vector<std::string_view>& out) const {
  static constexpr std::string_view kNewline("\n", 1);
  const std::string_view all = text_ ? text_->view() : std::string_view();
  std::size_t spanBegin = 0;
  std::size_t spanEnd = 0;
  bool spanOpen = false;
  auto flush = [&] {
    if (spanOpen) out.push_back(all.substr(spanBegin, spanEnd - spanBegin));
    spanOpen = false;
  };
  auto addOriginal = [&](const Line& line) {
    const std::size_t end = line.offset + line.length;
    const bool hasNewline = end < all.size();  // only the last line of a file may lack one
    const std::size_t endWithNewline = hasNewline ? end + 1 : end;
    if (spanOpen && spanEnd == line.offset) {
      spanEnd = endWithNewline;
    } else {
      flush();
      spanBegin = line.offset;
      spanEnd = endWithNewline;
      spanOpen = true;
    }
    if (!hasNewline) {
      flush();
      out.push_back(kNewline);
    }
  };
  for (const Line& line : lines_) {
    if (line.state == kRemoved) continue;
    if (line.state >= 0) {
      flush();
      out.push_back(formatted[static_cast<std::size_t>(line.state)]);
      out.push_back(kNewline);
      continue;
    }
    addOriginal(line);
  }
  for (const Line& line : compat_) addOriginal(line);
  flush();
}

void DBLineTable::lines(const std::vector<std::string>& formatted, std::vector<std::string>& out) const {
  for (const Line& line : lines_) {
    if (line.state == kRemoved) continue;
    if (line.state >= 0) {
      out.push_back(formatted[static_cast<std::size_t>(line.state)]);
    } else {
      out.emplace_back(textOf(line));
    }
  }
  for (const Line& line : compat_) out.emplace_back(textOf(line));
}

void DBLineTable::forEachRecord(Classifier classify,
                                const std::function<void(std::string_view, std::int32_t)>& visit) {
  for (Line& line : lines_) {
    if (line.state >= 0) {
      visit(std::string_view(), line.state);
      continue;
    }
    if (line.state == kUnread) line.state = classify(textOf(line)) == DBLineKind::Record ? kRecord : kOther;
    if (line.state == kRecord) visit(textOf(line), -1);
  }
}

}  // namespace vesk
