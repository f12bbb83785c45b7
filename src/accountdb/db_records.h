// The records of the three account files: DBPasswd (/etc/passwd), DBShadow (/etc/shadow) and
// DBGroup (/etc/group), and the optional numbers of shadow records.
//
// Records are plain values with public fields. parse() accepts exactly the line's field count;
// lines that begin with "+" or "-" are rejected with isCompat() true. A rejected line leaves the
// fields assigned before the rejection as read from it; only name, complete and compat are defined
// afterwards. Numbers read as atol reads them (see parseNumber in record_fields.h).
//
// classify() tells the kind of a line without building a record, with the same answer as parse():
// Record when parse returns true with a non-empty name, Compat when parse sets the compat flag,
// Other for everything else.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "db_entry.h"

namespace vesk {

// A number of a shadow record that may be absent: set is true when its field was non-empty.
template <typename T>
struct OptionalNumber {
  bool set = false;
  T value = 0;

  bool operator==(const OptionalNumber&) const = default;
};

// name:password:uid:gid:gecos:home:shell
class DBPasswd : public DBEntry {
 public:
  static constexpr std::size_t kFieldCount = 7;
  static constexpr std::uint32_t kInitialId = 65534;

  DBPasswd() = default;
  ~DBPasswd() override;

  bool isCompat() const override;
  // Initial values, except that uid and gid become 0.
  void clear() override;
  bool parse(const std::string& line) override;
  // name:password:uid:gid:gecos:home:shell when complete, else the short form name:uid:gid.
  std::string format() const override;

  static DBLineKind classify(std::string_view line);

  bool complete = false;
  bool compat = false;
  std::string password;
  std::uint32_t uid = kInitialId;
  std::uint32_t gid = kInitialId;
  std::string gecos;
  std::string home;
  std::string shell;
};

// name:password:lastChange:minAge:maxAge:warnPeriod:inactivePeriod:expiryDay:flag
class DBShadow : public DBEntry {
 public:
  static constexpr std::size_t kFieldCount = 9;
  // Appended to a user name, the shadow line of a new user: password "*", every number unset.
  static constexpr const char* kNewUserFields = ":*:::::::";

  DBShadow() = default;
  ~DBShadow() override;

  bool isCompat() const override;
  void clear() override;
  bool parse(const std::string& line) override;
  // Always nine fields; an unset number is an empty field.
  std::string format() const override;

  static DBLineKind classify(std::string_view line);

  bool compat = false;
  std::string password;
  OptionalNumber<std::int64_t> lastChange;
  OptionalNumber<std::int64_t> minAge;
  OptionalNumber<std::int64_t> maxAge;
  OptionalNumber<std::int64_t> warnPeriod;
  OptionalNumber<std::int64_t> inactivePeriod;
  OptionalNumber<std::int64_t> expiryDay;
  OptionalNumber<std::uint64_t> flag;
};

// name:password:gid:member,member,...
//
// A line with more than four fields is rejected like a line with too few, as the passwd and shadow
// parsers reject extra fields: taking the fourth field as the member list and dropping the rest
// would lose the extra text on the next write-back, while a rejected line is kept verbatim.
class DBGroup : public DBEntry {
 public:
  static constexpr std::size_t kFieldCount = 4;
  static constexpr std::uint32_t kInitialId = 65534;

  DBGroup() = default;
  ~DBGroup() override;

  bool isCompat() const override;
  // Initial values, except that gid becomes 0.
  void clear() override;
  // Empty member names (from ",,", or a leading or trailing ",") are dropped.
  bool parse(const std::string& line) override;
  // name:password:gid:members when complete, else the short form name:gid.
  std::string format() const override;

  static DBLineKind classify(std::string_view line);

  bool complete = false;
  bool compat = false;
  std::string password;
  std::uint32_t gid = kInitialId;
  std::vector<std::string> members;
};

}  // namespace vesk
