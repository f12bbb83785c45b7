#include <algorithm>

#include "db_records.h"
#include "record_fields.h"

namespace vesk {
namespace {

template <typename T>
void readNumber(OptionalNumber<T>& number, std::string_view field) {
  number.set = !field.empty();
  number.value = static_cast<T>(number.set ? db::parseNumber(field) : -1);
}

void appendNumber(std::string& line, const OptionalNumber<std::int64_t>& number) {
  if (number.set) db::appendSigned(line, number.value);
}

}  // namespace

DBShadow::~DBShadow() = default;

bool DBShadow::isCompat() const { return compat; }

void DBShadow::clear() { *this = DBShadow(); }

bool DBShadow::parse(const std::string& line) {
  std::string_view fields[kFieldCount];
  const std::size_t count = db::splitFields(line, fields, kFieldCount);
  const std::size_t stored = std::min(count, kFieldCount);
  name.assign(fields[0]);
  if (stored > 1) password.assign(fields[1]);
  OptionalNumber<std::int64_t>* const numbers[] = {&lastChange, &minAge, &maxAge, &warnPeriod, &inactivePeriod,
                                                   &expiryDay};
  for (std::size_t i = 2; i < stored && i < 8; ++i) readNumber(*numbers[i - 2], fields[i]);
  if (stored > 8) readNumber(flag, fields[8]);
  return db::finishParse(name, compat, count, kFieldCount);
}

std::string DBShadow::format() const {
  std::string line;
  if (name.empty()) return line;
  line.reserve(name.size() + password.size() + 64);
  line.append(name).push_back(':');
  line.append(password).push_back(':');
  for (const auto* number : {&lastChange, &minAge, &maxAge, &warnPeriod, &inactivePeriod, &expiryDay}) {
    appendNumber(line, *number);
    line.push_back(':');
  }
  if (flag.set) db::appendUnsigned(line, flag.value);
  return line;
}

DBLineKind DBShadow::classify(std::string_view line) { return db::classifyLine(line, kFieldCount); }

}  // namespace vesk
