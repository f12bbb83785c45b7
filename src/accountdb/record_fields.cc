#include "record_fields.h"

#include <charconv>
#include <cstring>

namespace vesk::db {

std::size_t splitFields(std::string_view line, std::string_view* fields, std::size_t maxFields) {
  std::size_t count = 0;
  std::size_t pos = 0;
  for (;;) {
    if (count == maxFields) return maxFields + 1;  // the last stored field ended with ':'
    const std::size_t colon = line.find(':', pos);
    if (colon == std::string_view::npos) {
      fields[count++] = line.substr(pos);
      return count;
    }
    fields[count++] = line.substr(pos, colon - pos);
    pos = colon + 1;
  }
}

std::int64_t parseNumber(std::string_view field) {
  std::size_t i = 0;
  while (i < field.size() && (field[i] == ' ' || (field[i] >= '\t' && field[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < field.size() && (field[i] == '+' || field[i] == '-')) {
    negative = field[i] == '-';
    ++i;
  }
  std::uint64_t value = 0;
  for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i) {
    value = value * 10 + static_cast<std::uint64_t>(field[i] - '0');
  }
  if (negative) value = 0 - value;
  return static_cast<std::int64_t>(value);
}

bool finishParse(std::string& name, bool& compat, std::size_t count, std::size_t fieldCount) {
  compat = !name.empty() && (name[0] == '+' || name[0] == '-');
  if (!compat && count == fieldCount) return true;
  name.clear();
  return false;
}

DBLineKind classifyLine(std::string_view line, std::size_t fieldCount) {
  if (line.empty()) return DBLineKind::Other;
  if (line[0] == '+' || line[0] == '-') return DBLineKind::Compat;
  if (line[0] == ':') return DBLineKind::Other;  // a record without a name
  const char* p = line.data();
  const char* end = p + line.size();
  std::size_t colons = 0;
  while (colons < fieldCount) {
    p = static_cast<const char*>(std::memchr(p, ':', static_cast<std::size_t>(end - p)));
    if (p == nullptr) break;
    ++colons;
    ++p;
  }
  return colons + 1 == fieldCount ? DBLineKind::Record : DBLineKind::Other;
}

void appendSigned(std::string& out, std::int64_t value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, result.ptr);
}

void appendUnsigned(std::string& out, std::uint64_t value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, result.ptr);
}

}  // namespace vesk::db
