#include "db_line_table.h"

#include <algorithm>
#include <new>

#include "db_file.h"

namespace vesk {
namespace {

constexpr std::string_view kNewline("\n", 1);
// Spans are at most this long, so that their length fits a Line; they end at a line end.
constexpr std::size_t kMaxSpan = std::size_t{1} << 30;

}  // namespace

void DBLineTable::clear() noexcept {
  text_.reset();
  std::vector<Line>().swap(lines_);
  std::vector<Line>().swap(compat_);
  ++generation_;
}

bool DBLineTable::load(DBStorage& source, Classifier classify) noexcept {
  clear();
  if (!source.isOpen()) return false;
  classify_ = classify;
  try {
    std::size_t offset = 0;
    if (auto* file = dynamic_cast<DBFile*>(&source)) {
      DBTextRest rest = file->takeRest();
      text_ = std::move(rest.text);
      offset = rest.offset;
    } else {
      std::string all;
      while (source.hasRecord()) {
        all += source.getRecord();
        all += '\n';
        source.next();
      }
      text_ = DBText::fromString(std::move(all));
    }
    if (!text_) return false;
    const std::string_view all = text_->view();
    while (offset < all.size()) {
      std::size_t end = all.size();
      if (end - offset > kMaxSpan) {
        const std::size_t newline = all.rfind('\n', offset + kMaxSpan - 1);
        if (newline == std::string_view::npos || newline < offset) return clear(), false;  // a line of 1 GB
        end = newline + 1;
      }
      lines_.push_back(Line{offset, static_cast<std::uint32_t>(end - offset), kSpan});
      offset = end;
    }
    return true;
  } catch (const std::bad_alloc&) {
  }
  clear();
  return false;
}

void DBLineTable::indexAll() {
  bool spans = false;
  for (const Line& line : lines_) spans = spans || line.state == kSpan;
  if (!spans) return;
  std::vector<Line> indexed;
  indexed.reserve(lines_.size());
  for (const Line& line : lines_) {
    if (line.state != kSpan) {
      indexed.push_back(line);
    } else {
      indexRange(line.offset, line.offset + line.length, indexed);
    }
  }
  std::sort(compat_.begin(), compat_.end(), [](const Line& a, const Line& b) { return a.offset < b.offset; });
  lines_.swap(indexed);
  ++generation_;
}

void DBLineTable::indexRange(std::size_t begin, std::size_t end, std::vector<Line>& out) {
  const char* base = text_->view().data();
  const char* p = base + begin;
  const char* stop = base + end;
  while (p < stop) {
    const char* newline = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(stop - p)));
    const char* lineStop = newline != nullptr ? newline : stop;
    const std::size_t length = static_cast<std::size_t>(lineStop - p);  // within a span: below 1 GB
    const Line line{static_cast<std::uint64_t>(p - base), static_cast<std::uint32_t>(length), kUnread};
    if (length > 0 && (*p == '+' || *p == '-') && classify_(std::string_view(p, length)) == DBLineKind::Compat) {
      compat_.push_back(line);
    } else {
      out.push_back(line);
    }
    p = newline != nullptr ? newline + 1 : stop;
  }
}

std::size_t DBLineTable::lineEnd(const Line& span, std::size_t offset) const {
  const std::size_t stop = span.offset + span.length;
  const char* base = text_->view().data();
  const void* newline = std::memchr(base + offset, '\n', stop - offset);
  return newline != nullptr ? static_cast<std::size_t>(static_cast<const char*>(newline) - base) : stop;
}

void DBLineTable::compatLinesOf(const Line& span, std::vector<Line>& out) const {
  // Compatibility lines begin with "+" or "-", which no hash holds: searching for the two
  // characters skips nearly the whole text at memory speed.
  const char* base = text_->view().data();
  const char* begin = base + span.offset;
  const char* stop = begin + span.length;
  const char* plus = static_cast<const char*>(std::memchr(begin, '+', span.length));
  const char* minus = static_cast<const char*>(std::memchr(begin, '-', span.length));
  while (plus != nullptr || minus != nullptr) {
    const char* p = minus == nullptr || (plus != nullptr && plus < minus) ? plus : minus;
    if (p == begin || p[-1] == '\n') {
      const std::size_t offset = static_cast<std::size_t>(p - base);
      const std::size_t end = lineEnd(span, offset);
      if (classify_(text_->view().substr(offset, end - offset)) == DBLineKind::Compat) {
        out.push_back(Line{offset, static_cast<std::uint32_t>(end - offset), kUnread});
      }
    }
    const char*& next = p == plus ? plus : minus;
    next = p + 1 < stop ? static_cast<const char*>(std::memchr(p + 1, *p, static_cast<std::size_t>(stop - p - 1)))
                        : nullptr;
  }
}

std::size_t DBLineTable::splitSpan(std::size_t index, std::size_t offset, std::size_t end, std::int32_t state) {
  const Line span = lines_[index];
  const std::size_t spanEnd = span.offset + span.length;
  const std::size_t after = end < spanEnd ? end + 1 : spanEnd;  // past the line end
  Line parts[3];
  std::size_t count = 0;
  if (offset > span.offset) parts[count++] = Line{span.offset, static_cast<std::uint32_t>(offset - span.offset), kSpan};
  const std::size_t found = index + count;
  parts[count++] = Line{offset, static_cast<std::uint32_t>(end - offset), state};
  if (after < spanEnd) parts[count++] = Line{after, static_cast<std::uint32_t>(spanEnd - after), kSpan};
  lines_[index] = parts[0];
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(index) + 1, parts + 1, parts + count);
  ++generation_;
  return found;
}

std::size_t DBLineTable::findInSpan(std::size_t index, std::string_view name) {
  const Line& span = lines_[index];
  const char* base = text_->view().data();
  const std::size_t size = name.size();
  std::size_t offset = span.offset;
  const std::size_t stop = span.offset + span.length;
  while (offset < stop) {
    const std::size_t end = lineEnd(span, offset);
    const char* start = base + offset;
    // The separator and the last character rule out most lines before a full comparison.
    if (end - offset > size && start[size] == ':' && start[size - 1] == name[size - 1] &&
        std::memcmp(start, name.data(), size - 1) == 0 &&
        classify_(std::string_view(start, end - offset)) == DBLineKind::Record) {
      return splitSpan(index, offset, end, kRecord);
    }
    offset = end + 1;
  }
  return kNone;
}

void DBLineTable::pieces(const std::vector<std::string>& formatted, std::vector<std::string_view>& out) const {
  const std::string_view all = text_ ? text_->view() : std::string_view();
  std::size_t runBegin = 0;
  std::size_t runEnd = 0;
  bool runOpen = false;
  auto flush = [&] {
    if (runOpen) out.push_back(all.substr(runBegin, runEnd - runBegin));
    runOpen = false;
  };
  // Original text [begin, end) of whole lines; only the last line of a file may lack its line end.
  auto addText = [&](std::size_t begin, std::size_t end) {
    if (begin == end) return;
    if (runOpen && runEnd == begin) {
      runEnd = end;
    } else {
      flush();
      runBegin = begin;
      runEnd = end;
      runOpen = true;
    }
    if (all[end - 1] != '\n') {
      flush();
      out.push_back(kNewline);
    }
  };
  auto addLine = [&](const Line& line) {
    const std::size_t end = line.offset + line.length;
    addText(line.offset, end < all.size() ? end + 1 : end);
  };
  std::vector<Line> compat = compat_;
  std::vector<Line> spanCompat;
  for (const Line& line : lines_) {
    if (line.state == kRemoved) continue;
    if (line.state >= 0) {
      flush();
      out.push_back(formatted[static_cast<std::size_t>(line.state)]);
      out.push_back(kNewline);
      continue;
    }
    if (line.state != kSpan) {
      addLine(line);
      continue;
    }
    spanCompat.clear();
    compatLinesOf(line, spanCompat);
    std::size_t cursor = line.offset;
    for (const Line& c : spanCompat) {
      addText(cursor, c.offset);
      const std::size_t end = c.offset + c.length;
      cursor = end < line.offset + line.length ? end + 1 : end;
    }
    addText(cursor, line.offset + line.length);
    compat.insert(compat.end(), spanCompat.begin(), spanCompat.end());
  }
  std::sort(compat.begin(), compat.end(), [](const Line& a, const Line& b) { return a.offset < b.offset; });
  for (const Line& line : compat) addLine(line);
  flush();
}

void DBLineTable::lines(const std::vector<std::string>& formatted, std::vector<std::string>& out) const {
  std::vector<Line> compat = compat_;
  for (const Line& line : lines_) {
    if (line.state == kRemoved) continue;
    if (line.state >= 0) {
      out.push_back(formatted[static_cast<std::size_t>(line.state)]);
    } else if (line.state != kSpan) {
      out.emplace_back(textOf(line));
    } else {
      for (std::size_t offset = line.offset; offset < line.offset + line.length;) {
        const std::size_t end = lineEnd(line, offset);
        const std::string_view text = text_->view().substr(offset, end - offset);
        if (!text.empty() && (text[0] == '+' || text[0] == '-') && classify_(text) == DBLineKind::Compat) {
          compat.push_back(Line{offset, static_cast<std::uint32_t>(end - offset), kUnread});
        } else {
          out.emplace_back(text);
        }
        offset = end + 1;
      }
    }
  }
  std::sort(compat.begin(), compat.end(), [](const Line& a, const Line& b) { return a.offset < b.offset; });
  for (const Line& line : compat) out.emplace_back(textOf(line));
}

void DBLineTable::forEachRecord(Classifier classify,
                                const std::function<void(std::string_view, std::int32_t)>& visit) {
  indexAll();
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
