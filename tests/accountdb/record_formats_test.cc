// Lines of /etc/passwd, /etc/shadow and /etc/group through parse and format.
#include <gtest/gtest.h>

#include <sstream>

#include "db_records.h"

namespace vesk {
namespace {

// How a line fares: accepted as a record (formatting to `formatted`), rejected as a compatibility
// line, or rejected otherwise.
enum class Outcome { Record, Compat, Rejected };

struct LineCase {
  const char* line;
  Outcome outcome;
  const char* formatted;  // for records: format() after parse
};

// Lines that no class takes as a record, and the compatibility lines of every class.
const std::vector<LineCase> kCommonLines = {
    {"", Outcome::Rejected, ""},         {"# local users", Outcome::Rejected, ""},
    {"+", Outcome::Compat, ""},          {"+bob", Outcome::Compat, ""},
    {"-bob::::::", Outcome::Compat, ""}, {"+:::", Outcome::Compat, ""},
};

template <typename Record>
void checkLines(std::vector<LineCase> cases) {
  cases.insert(cases.end(), kCommonLines.begin(), kCommonLines.end());
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.line);
    Record record;
    const bool parsed = record.parse(c.line);
    EXPECT_EQ(parsed && !record.isEmpty(), c.outcome == Outcome::Record);
    EXPECT_EQ(record.isCompat(), c.outcome == Outcome::Compat);
    if (c.outcome == Outcome::Record) {
      EXPECT_EQ(record.format(), c.formatted);
    } else {
      EXPECT_TRUE(record.isEmpty());
      EXPECT_EQ(record.format(), "");
    }
    const DBLineKind expectedKind = c.outcome == Outcome::Record   ? DBLineKind::Record
                                    : c.outcome == Outcome::Compat ? DBLineKind::Compat
                                                                   : DBLineKind::Other;
    EXPECT_EQ(Record::classify(c.line), expectedKind);
  }
}

TEST(RecordFormatsTest, PasswdLinesParseAndFormat) {
  checkLines<DBPasswd>({
      {"root:x:0:0:root:/root:/bin/bash", Outcome::Record, "root:x:0:0:root:/root:/bin/bash"},
      {"daemon:x:1:1::/:/sbin/nologin", Outcome::Record, "daemon:x:1:1::/:/sbin/nologin"},
      {"n:::::: ", Outcome::Record, "n::0:0::: "},
      {"bob:x:00042: 7:G, ecos:/home/b\r:/bin/sh\r", Outcome::Record, "bob:x:42:7:G, ecos:/home/b\r:/bin/sh\r"},
      {"bob:x:abc:-1:::", Outcome::Record, "bob:x:0:4294967295:::"},
      {"bob:x:4294967296:+5:::", Outcome::Record, "bob:x:0:5:::"},
      {"six:x:1:1:g:/h", Outcome::Rejected, ""},
      {"eight:x:1:1:g:/h:/bin/sh:extra", Outcome::Rejected, ""},
      {"eight:x:1:1:g:/h:/bin/sh:", Outcome::Rejected, ""},
      {":x:0:0:::", Outcome::Rejected, ""},
      {"+::::::", Outcome::Compat, ""},
      {"-bob:x:1:1:g:/h:/bin/sh:extra", Outcome::Compat, ""},
  });
}

TEST(RecordFormatsTest, ShadowLinesParseAndFormat) {
  checkLines<DBShadow>({
      {"alice:*:14000:0:99999:7:::", Outcome::Record, "alice:*:14000:0:99999:7:::"},
      {"bob:*:::::::", Outcome::Record, "bob:*:::::::"},
      {"root:$1$abc$def:19000:0:99999:7:30:20000:1", Outcome::Record, "root:$1$abc$def:19000:0:99999:7:30:20000:1"},
      {"n:p:0042: 3:-1:+2:x:: ", Outcome::Record, "n:p:42:3:-1:2:0::0"},
      {"n:p:::::::-1", Outcome::Record, "n:p:::::::18446744073709551615"},
      {"n:p:99999999999999999999:::::: 18446744073709551615", Outcome::Record,
       "n:p:7766279631452241919::::::18446744073709551615"},
      {"eight:*:1:2:3:4:5:6", Outcome::Rejected, ""},
      {"ten:*:1:2:3:4:5:6:7:8", Outcome::Rejected, ""},
      {":*:::::::", Outcome::Rejected, ""},
  });
}

TEST(RecordFormatsTest, GroupLinesParseAndFormat) {
  checkLines<DBGroup>({
      {"wheel:x:10:root,alice", Outcome::Record, "wheel:x:10:root,alice"},
      {"wheel:x:10:", Outcome::Record, "wheel:x:10:"},
      {"g:x:5:a,,b,", Outcome::Record, "g:x:5:a,b"},
      {"g:x:5:,a", Outcome::Record, "g:x:5:a"},
      {"g:x:5:,", Outcome::Record, "g:x:5:"},
      {"g::0050: a", Outcome::Record, "g::50: a"},
      {"three:x:10", Outcome::Rejected, ""},
      {"five:x:10:a,b:extra", Outcome::Rejected, ""},
      {"five:x:10:a:", Outcome::Rejected, ""},
      {":x:10:", Outcome::Rejected, ""},
  });
}

TEST(RecordFormatsTest, FieldsHoldTheLinesValues) {
  DBPasswd user;
  ASSERT_TRUE(user.parse("bob:x:00042:-1:Bob B:/home/bob:/bin/sh"));
  EXPECT_EQ(user.name, "bob");
  EXPECT_EQ(user.uid, 42u);
  EXPECT_EQ(user.gid, 4294967295u);
  EXPECT_EQ(user.gecos, "Bob B");
  EXPECT_EQ(user.home, "/home/bob");
  EXPECT_EQ(user.shell, "/bin/sh");
  EXPECT_TRUE(user.complete);

  DBShadow shadow;
  ASSERT_TRUE(shadow.parse("alice:*:14000:0:99999:7:::"));
  EXPECT_EQ(shadow.password, "*");
  EXPECT_EQ(shadow.lastChange, (OptionalNumber<std::int64_t>{true, 14000}));
  EXPECT_EQ(shadow.minAge, (OptionalNumber<std::int64_t>{true, 0}));
  EXPECT_EQ(shadow.maxAge, (OptionalNumber<std::int64_t>{true, 99999}));
  EXPECT_EQ(shadow.warnPeriod, (OptionalNumber<std::int64_t>{true, 7}));
  EXPECT_EQ(shadow.inactivePeriod, (OptionalNumber<std::int64_t>{false, -1}));
  EXPECT_EQ(shadow.expiryDay, (OptionalNumber<std::int64_t>{false, -1}));
  EXPECT_FALSE(shadow.flag.set);

  DBGroup group;
  ASSERT_TRUE(group.parse("wheel:x:10:root,alice"));
  EXPECT_EQ(group.gid, 10u);
  EXPECT_EQ(group.members, (std::vector<std::string>{"root", "alice"}));
  ASSERT_TRUE(group.parse("wheel:x:10:"));
  EXPECT_TRUE(group.members.empty());
}

TEST(RecordFormatsTest, NewClearedAndShortRecordsFormat) {
  DBPasswd fresh;
  fresh.name = "bob";
  EXPECT_EQ(fresh.format(), "bob:65534:65534");
  DBPasswd cleared;
  ASSERT_TRUE(cleared.parse("root:x:0:0:root:/root:/bin/bash"));
  cleared.clear();
  EXPECT_TRUE(cleared.isEmpty());
  EXPECT_FALSE(cleared.complete);
  cleared.name = "bob";
  EXPECT_EQ(cleared.format(), "bob:0:0");

  DBGroup freshGroup;
  freshGroup.name = "bob";
  EXPECT_EQ(freshGroup.format(), "bob:65534");
  DBGroup clearedGroup;
  ASSERT_TRUE(clearedGroup.parse("wheel:x:10:root"));
  clearedGroup.clear();
  EXPECT_TRUE(clearedGroup.members.empty());
  clearedGroup.name = "bob";
  EXPECT_EQ(clearedGroup.format(), "bob:0");

  DBShadow shadow;
  ASSERT_TRUE(shadow.parse(std::string("bob") + DBShadow::kNewUserFields));
  EXPECT_EQ(shadow.format(), "bob:*:::::::");
  shadow.clear();
  EXPECT_EQ(shadow.lastChange, (OptionalNumber<std::int64_t>{}));
  shadow.name = "bob";
  EXPECT_EQ(shadow.format(), "bob::::::::");

  // A compatibility line leaves the flag set until the next parse.
  DBPasswd compat;
  EXPECT_FALSE(compat.parse("+bob"));
  EXPECT_TRUE(compat.isCompat());
  EXPECT_TRUE(compat.parse("bob:x:1:1:::"));
  EXPECT_FALSE(compat.isCompat());
}

TEST(RecordFormatsTest, StreamOperatorsReadLinesAndWriteFormat) {
  std::istringstream in("root:x:0:0:root:/root:/bin/bash\n+bob\nwheel:x:10:\n");
  DBPasswd user;
  in >> user;
  EXPECT_EQ(user.name, "root");
  in >> user;
  EXPECT_TRUE(user.isEmpty());
  EXPECT_TRUE(user.isCompat());
  DBGroup group;
  in >> group;
  EXPECT_EQ(group.name, "wheel");

  std::ostringstream out;
  DBShadow shadow;
  ASSERT_TRUE(shadow.parse("alice:*:14000:0:99999:7:::"));
  out << shadow << '|' << group;
  EXPECT_EQ(out.str(), "alice:*:14000:0:99999:7:::|wheel:x:10:");
}

}  // namespace
}  // namespace vesk
