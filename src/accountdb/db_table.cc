#include "db_table.h"

namespace vesk {
namespace {

template <typename Entry>
std::ostream& list(std::ostream& out, const char* title, const DBTable<Entry>& table) {
  out << title << table.fileName << '\n' << std::string(60, '-') << '\n';
  for (const Entry& record : table.records) out << record.format() << '\n';
  return out;
}

}  // namespace

std::ostream& operator<<(std::ostream& out, const DBUserTable& table) { return list(out, "User File: ", table); }

std::ostream& operator<<(std::ostream& out, const DBGroupTable& table) { return list(out, "Group File: ", table); }

}  // namespace vesk
