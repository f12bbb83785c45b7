#include "db_entry.h"

namespace vesk {

DBEntry::~DBEntry() = default;

bool DBEntry::isEmpty() const { return name.empty(); }

bool DBEntry::isCompat() const { return false; }

void DBEntry::clear() { name.clear(); }

std::ostream& operator<<(std::ostream& out, const DBEntry& entry) { return out << entry.format(); }

std::istream& operator>>(std::istream& in, DBEntry& entry) {
  std::string line;
  std::getline(in, line);
  entry.parse(line);
  return in;
}

}  // namespace vesk
