#include <algorithm>

#include "db_records.h"
#include "record_fields.h"

namespace vesk {

DBPasswd::~DBPasswd() = default;

bool DBPasswd::isCompat() const { return compat; }

void DBPasswd::clear() {
  DBEntry::clear();
  complete = false;
  compat = false;
  password.clear();
  uid = 0;
  gid = 0;
  gecos.clear();
  home.clear();
  shell.clear();
}

bool DBPasswd::parse(const std::string& line) {
  std::string_view fields[kFieldCount];
  const std::size_t count = db::splitFields(line, fields, kFieldCount);
  const std::size_t stored = std::min(count, kFieldCount);
  name.assign(fields[0]);
  if (stored > 1) password.assign(fields[1]);
  if (stored > 2) uid = static_cast<std::uint32_t>(db::parseNumber(fields[2]));
  if (stored > 3) gid = static_cast<std::uint32_t>(db::parseNumber(fields[3]));
  if (stored > 4) gecos.assign(fields[4]);
  if (stored > 5) home.assign(fields[5]);
  if (stored > 6) shell.assign(fields[6]);
  complete = db::finishParse(name, compat, count, kFieldCount);
  return complete;
}

std::string DBPasswd::format() const {
  std::string line;
  if (name.empty()) return line;
  if (!complete) {
    line.reserve(name.size() + 24);
    line.append(name).push_back(':');
    db::appendUnsigned(line, uid);
    line.push_back(':');
    db::appendUnsigned(line, gid);
    return line;
  }
  line.reserve(name.size() + password.size() + gecos.size() + home.size() + shell.size() + 28);
  line.append(name).push_back(':');
  line.append(password).push_back(':');
  db::appendUnsigned(line, uid);
  line.push_back(':');
  db::appendUnsigned(line, gid);
  line.push_back(':');
  line.append(gecos).push_back(':');
  line.append(home).push_back(':');
  line.append(shell);
  return line;
}

DBLineKind DBPasswd::classify(std::string_view line) { return db::classifyLine(line, kFieldCount); }

}  // namespace vesk
