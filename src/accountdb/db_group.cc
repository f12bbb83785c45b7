#include <algorithm>

#include "db_records.h"
#include "record_fields.h"

namespace vesk {

DBGroup::~DBGroup() = default;

bool DBGroup::isCompat() const { return compat; }

void DBGroup::clear() {
  DBEntry::clear();
  complete = false;
  compat = false;
  password.clear();
  gid = 0;
  members.clear();
}

bool DBGroup::parse(const std::string& line) {
  std::string_view fields[kFieldCount];
  const std::size_t count = db::splitFields(line, fields, kFieldCount);
  const std::size_t stored = std::min(count, kFieldCount);
  name.assign(fields[0]);
  if (stored > 1) password.assign(fields[1]);
  if (stored > 2) gid = static_cast<std::uint32_t>(db::parseNumber(fields[2]));
  if (stored > 3) {
    members.clear();
    std::string_view rest = fields[3];
    while (!rest.empty()) {
      const std::size_t comma = rest.find(',');
      const std::string_view piece = rest.substr(0, comma);
      if (!piece.empty()) members.emplace_back(piece);
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
    }
  }
  complete = db::finishParse(name, compat, count, kFieldCount);
  return complete;
}

std::string DBGroup::format() const {
  std::string line;
  if (name.empty()) return line;
  line.append(name).push_back(':');
  if (!complete) {
    db::appendUnsigned(line, gid);
    return line;
  }
  line.append(password).push_back(':');
  db::appendUnsigned(line, gid);
  line.push_back(':');
  for (std::size_t i = 0; i < members.size(); ++i) {
    if (i > 0) line.push_back(',');
    line.append(members[i]);
  }
  return line;
}

DBLineKind DBGroup::classify(std::string_view line) { return db::classifyLine(line, kFieldCount); }

}  // namespace vesk
