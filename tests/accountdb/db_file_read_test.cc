// Opening, reading and closing a DBFile.
#include <gtest/gtest.h>

#include "db_file.h"
#include "test_support.h"

namespace vesk::test {
namespace {

class DBFileReadTest : public DBTest {
 protected:
  std::vector<std::string> readAll(DBFile& file) {
    std::vector<std::string> records;
    for (bool more = file.hasRecord(); more && records.size() < 100; more = file.next()) {
      records.push_back(file.getRecord());
    }
    return records;
  }
};

TEST_F(DBFileReadTest, RecordsAreTheLinesIncludingBlankOnes) {
  struct Case {
    const char* content;
    std::vector<std::string> records;
  };
  const std::vector<Case> cases = {
      {"", {}},
      {"\n", {""}},
      {"a\nb\n", {"a", "b"}},
      {"a\nb", {"a", "b"}},
      {"a\n\nb\n\n", {"a", "", "b", ""}},
      {"# comment\r\n:x:0:0:::\n+\n", {"# comment\r", ":x:0:0:::", "+"}},
  };
  const std::string path = dir_ / "passwd";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.content);
    writeFile(path, c.content);
    DBFile file(path.c_str());
    file.setReadOnly(true);
    ASSERT_TRUE(file.open());
    EXPECT_EQ(readAll(file), c.records);
    EXPECT_FALSE(file.hasRecord());
    EXPECT_EQ(file.getRecord(), "");
    EXPECT_FALSE(file.next());
    EXPECT_EQ(file.first(), !c.records.empty());
    EXPECT_EQ(file.getRecord(), c.records.empty() ? "" : c.records[0]);
    file.close();
    EXPECT_FALSE(file.isOpen());
    EXPECT_FALSE(file.hasRecord());
    EXPECT_EQ(file.getRecord(), "");
  }
}

TEST_F(DBFileReadTest, NulBytesStayInsideTheirLine) {
  const std::string path = dir_ / "passwd";
  writeFile(path, std::string("a\0b\nc", 5));
  DBFile file(path.c_str());
  file.setReadOnly(true);
  ASSERT_TRUE(file.open());
  EXPECT_EQ(file.getRecord(), std::string("a\0b", 3));
  EXPECT_TRUE(file.next());
  EXPECT_EQ(file.getRecord(), "c");
}

TEST_F(DBFileReadTest, OpenNeedsAPathAnExistingFileAndForWritingTheLock) {
  const std::string path = dir_ / "shadow";
  DBFile missing(path.c_str());
  missing.setReadOnly(true);
  EXPECT_FALSE(missing.open());
  EXPECT_TRUE(log_.has("1: cannot open file " + path + "."));
  EXPECT_FALSE(missing.isOpen());

  writeFile(path, "root:*:1:0:99999:7:::\n", 0600);
  log_.clear();
  DBFile writable(path.c_str());
  EXPECT_FALSE(writable.isReadOnly());
  EXPECT_FALSE(writable.open());  // writable and not locked: refused without a message
  EXPECT_TRUE(log_.records().empty());
  ASSERT_TRUE(writable.lock());
  ASSERT_TRUE(writable.open());
  EXPECT_TRUE(log_.has("0: file " + path + " is opened."));
  EXPECT_EQ(writable.getRecord(), "root:*:1:0:99999:7:::");
  EXPECT_TRUE(writable.open());  // open again: closes and reopens at the first record
  EXPECT_EQ(writable.getRecord(), "root:*:1:0:99999:7:::");
  writable.close();
  writable.unlock();

  DBFile unnamed("");
  unnamed.setReadOnly(true);
  EXPECT_FALSE(unnamed.open());
  DBFile other(path.c_str());
  other.setReadOnly(true);
  const std::string second = dir_ / "group";
  writeFile(second, "wheel:x:10:\n");
  ASSERT_TRUE(other.open(second.c_str()));
  EXPECT_EQ(other.getPath(), second);
  EXPECT_EQ(other.getRecord(), "wheel:x:10:");
}

TEST_F(DBFileReadTest, FreshStorageAndRecordOperationsChangeNothing) {
  const std::string path = dir_ / "passwd";
  writeFile(path, "root:x:0:0:root:/root:/bin/bash\n");
  DBFile file(path.c_str());
  EXPECT_TRUE(file.isFile());
  EXPECT_FALSE(file.isOpen());
  EXPECT_FALSE(file.isLocked());
  EXPECT_FALSE(file.hasRecord());
  EXPECT_FALSE(file.first());
  EXPECT_FALSE(file.update("root:x:0:0:root:/root:/bin/sh"));
  EXPECT_FALSE(file.add("bob:x:1:1:::"));
  EXPECT_FALSE(file.remove("root:x:0:0:root:/root:/bin/bash"));
  EXPECT_EQ(readFile(path), "root:x:0:0:root:/root:/bin/bash\n");
}

}  // namespace
}  // namespace vesk::test
