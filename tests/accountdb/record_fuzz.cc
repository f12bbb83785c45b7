// Fuzz target of the three record parsers: no crash, classify agrees with parse, and a parsed
// record formats to a line that parses back to the same line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "db_records.h"

namespace {

template <typename Record>
void check(const std::string& line) {
  Record record;
  const bool parsed = record.parse(line);
  const vesk::DBLineKind expected = parsed && !record.isEmpty() ? vesk::DBLineKind::Record
                                    : record.isCompat()          ? vesk::DBLineKind::Compat
                                                                 : vesk::DBLineKind::Other;
  if (Record::classify(line) != expected) std::abort();
  if (expected != vesk::DBLineKind::Record) {
    if (!record.format().empty()) std::abort();
    return;
  }
  const std::string once = record.format();
  Record again;
  if (!again.parse(once) || again.format() != once || again.name != record.name) std::abort();
  if (Record::classify(once) != vesk::DBLineKind::Record) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  check<vesk::DBPasswd>(line);
  check<vesk::DBShadow>(line);
  check<vesk::DBGroup>(line);
  return 0;
}
