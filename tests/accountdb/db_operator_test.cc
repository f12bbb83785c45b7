// DBOperator: loading, finding, changing and committing whole account files.
#include <gtest/gtest.h>

#include "db_file.h"
#include "db_operator.h"
#include "db_records.h"
#include "test_support.h"

namespace vesk::test {
namespace {

using PasswdOperator = DBOperator<DBPasswd, DBFile>;

const std::string kPasswd =
    "root:x:0:0:root:/root:/bin/bash\n"
    "+bob\n"
    "daemon:x:1:1::/:/sbin/nologin\n";

class DBOperatorTest : public DBTest {
 protected:
  void SetUp() override {
    path_ = dir_ / "passwd";
    writeFile(path_, kPasswd);
  }
  // Locks, opens and loads op's own storage.
  template <typename Operator>
  void start(Operator& op) {
    ASSERT_TRUE(op.storage.lock());
    ASSERT_TRUE(op.storage.open());
    ASSERT_TRUE(op.load(op.storage));
  }
  // Files of the directory other than the account file and its backup.
  std::vector<std::string> leftovers() const {
    std::vector<std::string> names;
    for (const std::string& name : dir_.list()) {
      if (name != "passwd" && name != "passwd-" && name != "shadow" && name != "shadow-") names.push_back(name);
    }
    return names;
  }

  std::string path_;
};

TEST_F(DBOperatorTest, CommitWithoutChangesWritesNothingAndUnlocks) {
  {
    PasswdOperator op(path_);
    start(op);
    EXPECT_EQ(op.find("daemon").uid, 1u);
    EXPECT_TRUE(op.commit());
    EXPECT_FALSE(op.storage.isOpen());
    EXPECT_FALSE(op.storage.isLocked());
    EXPECT_TRUE(op.commit());  // empty: closes and unlocks again
  }
  EXPECT_EQ(readFile(path_), kPasswd);
  EXPECT_FALSE(exists(path_ + "-"));
  EXPECT_TRUE(leftovers().empty());
  EXPECT_EQ(DBFile::lockedFileCount(), 0);
}

TEST_F(DBOperatorTest, UpdateKeepsPlaceAndCompatLinesMoveToTheEnd) {
  PasswdOperator op(path_);
  start(op);
  DBPasswd daemon = op.find("daemon");
  ASSERT_FALSE(daemon.isEmpty());
  daemon.password = "$1$salt$hash";
  ASSERT_TRUE(op.update(daemon));
  EXPECT_EQ(op.find("daemon").password, "$1$salt$hash");
  ASSERT_TRUE(op.commit());
  EXPECT_EQ(readFile(path_),
            "root:x:0:0:root:/root:/bin/bash\n"
            "daemon:$1$salt$hash:1:1::/:/sbin/nologin\n"
            "+bob\n");
  EXPECT_EQ(readFile(path_ + "-"), kPasswd);
  EXPECT_FALSE(op.storage.isLocked());
}

// Lines that are no records stay where they are, byte for byte; so do unchanged records written
// in a form of their own.
TEST_F(DBOperatorTest, LinesThatAreNoRecordsAreKeptInPlace) {
  const std::string before =
      "# local users\n"
      "root:x:0:0:root:/root:/bin/bash\r\n"
      "\n"
      "-bob::::::\n"
      "short:x:1\n"
      ":x:0:0:::\n"
      "  \t\n"
      "old:x:00042:0042:::\n"
      "too:x:1:1:g:/h:/bin/sh:many\n"
      "+\n"
      "daemon:x:1:1::/:/sbin/nologin\n"
      "\n"
      "tail:x:9:9:::";  // no newline at the end
  writeFile(path_, before);
  PasswdOperator op(path_);
  start(op);
  EXPECT_EQ(op.find("root").shell, "/bin/bash\r");
  EXPECT_TRUE(op.find("short").isEmpty());
  EXPECT_TRUE(op.find("too").isEmpty());
  EXPECT_TRUE(op.find("").isEmpty());
  EXPECT_TRUE(op.find("-bob").isEmpty());
  DBPasswd daemon = op.find("daemon");
  daemon.shell = "/bin/sh";
  ASSERT_TRUE(op.update(daemon));
  DBPasswd carol;
  ASSERT_TRUE(carol.parse("carol:x:1001:100:Carol:/home/carol:/bin/sh"));
  ASSERT_TRUE(op.add(carol));
  ASSERT_TRUE(op.commit());
  EXPECT_EQ(readFile(path_),
            "# local users\n"
            "root:x:0:0:root:/root:/bin/bash\r\n"
            "\n"
            "short:x:1\n"
            ":x:0:0:::\n"
            "  \t\n"
            "old:x:00042:0042:::\n"
            "too:x:1:1:g:/h:/bin/sh:many\n"
            "daemon:x:1:1::/:/bin/sh\n"
            "\n"
            "tail:x:9:9:::\n"
            "carol:x:1001:100:Carol:/home/carol:/bin/sh\n"
            "-bob::::::\n"
            "+\n");
}

TEST_F(DBOperatorTest, FindAddAndRemoveFollowFileOrder) {
  PasswdOperator op(path_);
  start(op);
  // No match: a cleared record, also right after a valid record was read.
  const DBPasswd none = op.find("nobody");
  EXPECT_TRUE(none.isEmpty());
  EXPECT_EQ(none.uid, 0u);
  EXPECT_EQ(none.gid, 0u);
  EXPECT_TRUE(op.find("bob").isEmpty());  // "+bob" is no record

  DBPasswd second;
  ASSERT_TRUE(second.parse("root:x:0:0:second root:/root:/bin/sh"));
  ASSERT_TRUE(op.add(second));
  EXPECT_EQ(op.find("root").gecos, "root");  // the older one
  ASSERT_TRUE(op.remove(op.find("root")));
  EXPECT_EQ(op.find("root").gecos, "second root");

  DBPasswd empty;
  EXPECT_FALSE(op.add(empty));
  DBPasswd unknown;
  ASSERT_TRUE(unknown.parse("ghost:x:5:5:::"));
  EXPECT_FALSE(op.update(unknown));
  EXPECT_FALSE(op.remove(unknown));
  ASSERT_TRUE(op.commit());
  EXPECT_EQ(readFile(path_),
            "daemon:x:1:1::/:/sbin/nologin\n"
            "root:x:0:0:second root:/root:/bin/sh\n"
            "+bob\n");
}

TEST_F(DBOperatorTest, FailedMutatorsLeaveNothingToWrite) {
  PasswdOperator op(path_);
  start(op);
  DBPasswd bad = op.find("daemon");
  struct Case {
    const char* what;
    std::function<void(DBPasswd&)> spoil;
  };
  const std::vector<Case> cases = {
      {"colon in a field", [](DBPasswd& r) { r.gecos = "a:b"; }},
      {"line end in a field", [](DBPasswd& r) { r.home = "/x\n/y"; }},
      {"short form", [](DBPasswd& r) { r.complete = false; }},
      {"compat name", [](DBPasswd& r) { r.name = "+daemon"; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DBPasswd record = op.find("daemon");
    c.spoil(record);
    EXPECT_FALSE(op.update(record));
    EXPECT_FALSE(op.add(record));
  }
  ASSERT_TRUE(op.commit());
  EXPECT_EQ(readFile(path_), kPasswd);
  EXPECT_FALSE(exists(path_ + "-"));
}

TEST_F(DBOperatorTest, ReadOnlyStorageRefusesChangesAndCommitsWithoutWriting) {
  PasswdOperator op(path_);
  op.storage.setReadOnly(true);
  ASSERT_TRUE(op.storage.open());
  ASSERT_TRUE(op.load(op.storage));
  DBPasswd root = op.find("root");
  ASSERT_FALSE(root.isEmpty());
  root.shell = "/bin/sh";
  EXPECT_FALSE(op.update(root));
  EXPECT_FALSE(op.add(root));
  EXPECT_FALSE(op.remove(root));
  EXPECT_TRUE(op.commit());
  EXPECT_EQ(readFile(path_), kPasswd);
  EXPECT_EQ(FakeSystemLock::lockCalls, 0);
  EXPECT_EQ(FakeSystemLock::unlockCalls, 0);
}

TEST_F(DBOperatorTest, SecondLoadFindsNothingAndUnopenedStorageFails) {
  PasswdOperator op(path_);
  EXPECT_FALSE(op.load(op.storage));
  start(op);
  ASSERT_FALSE(op.find("root").isEmpty());
  EXPECT_TRUE(op.load(op.storage));
  EXPECT_TRUE(op.find("root").isEmpty());
}

TEST_F(DBOperatorTest, DestructionWritesPendingChangesAndReleasesTheLock) {
  {
    PasswdOperator op(path_);
    start(op);
    DBPasswd root = op.find("root");
    root.shell = "/bin/zsh";
    ASSERT_TRUE(op.update(root));
  }
  EXPECT_EQ(readFile(path_),
            "root:x:0:0:root:/root:/bin/zsh\n"
            "daemon:x:1:1::/:/sbin/nologin\n"
            "+bob\n");
  EXPECT_FALSE(exists(path_ + ".lock"));
  EXPECT_EQ(DBFile::lockedFileCount(), 0);
  {
    PasswdOperator stopped(path_);
    ASSERT_TRUE(stopped.storage.lock());  // stops before open, as a caller would on failure
  }
  EXPECT_FALSE(exists(path_ + ".lock"));
}

TEST_F(DBOperatorTest, ShadowAndGroupOperatorsChangeTheirFiles) {
  const std::string shadow = dir_ / "shadow";
  writeFile(shadow, "root:*:19000:0:99999:7:::\nbob:!:19000::::::\n", 0640);
  {
    DBOperator<DBShadow, DBFile> op(shadow);
    start(op);
    DBShadow bob = op.find("bob");
    bob.password = "$1$abcdefgh$0123456789abcdefghijkl";
    bob.lastChange = {true, 20000};
    ASSERT_TRUE(op.update(bob));
    ASSERT_TRUE(op.commit());
  }
  EXPECT_EQ(readFile(shadow), "root:*:19000:0:99999:7:::\nbob:$1$abcdefgh$0123456789abcdefghijkl:20000::::::\n");

  const std::string group = dir_ / "group";
  writeFile(group, "wheel:x:10:root\nstaff:x:50:\n");
  {
    DBOperator<DBGroup, DBFile> op(group);
    start(op);
    DBGroup staff = op.find("staff");
    staff.members = {"alice", "bob"};
    ASSERT_TRUE(op.update(staff));
    ASSERT_TRUE(op.remove(op.find("wheel")));
    ASSERT_TRUE(op.commit());
  }
  EXPECT_EQ(readFile(group), "staff:x:50:alice,bob\n");
}

// A storage other than a file: the operator reads it record by record and writes it as lines.
class LinesStorage : public DBStorage {
 public:
  explicit LinesStorage(const char* path) : DBStorage(path) { readOnly = false; }
  bool isFile() const override { return false; }
  bool open() override {
    opened = true;
    return first();
  }
  bool lock() override { return locked = true; }
  void unlock() override { locked = false; }
  bool first() override {
    position = 0;
    return next();
  }
  bool next() override {
    if (position >= content.size()) {
      setEndOfData();
      return false;
    }
    setRecord(content[position++]);
    return true;
  }
  bool write(const std::vector<std::string>& lines) override {
    written = lines;
    return true;
  }
  std::vector<std::string> content;
  std::vector<std::string> written;
  std::size_t position = 0;
};

TEST_F(DBOperatorTest, OtherStoragesAreReadByRecordAndWrittenAsLines) {
  DBOperator<DBGroup, LinesStorage> op("groups");
  op.storage.content = {"wheel:x:10:root", "", "+", "staff:x:50:"};
  ASSERT_TRUE(op.storage.lock());
  ASSERT_TRUE(op.storage.open());
  ASSERT_TRUE(op.load(op.storage));
  DBGroup staff = op.find("staff");
  staff.members.push_back("carol");
  ASSERT_TRUE(op.update(staff));
  ASSERT_TRUE(op.commit());
  EXPECT_EQ(op.storage.written, (std::vector<std::string>{"wheel:x:10:root", "", "staff:x:50:carol", "+"}));
  EXPECT_FALSE(op.storage.isLocked());
}

TEST_F(DBOperatorTest, ForEachRecordVisitsRecordsInTableOrder) {
  PasswdOperator op(path_);
  start(op);
  DBPasswd carol;
  ASSERT_TRUE(carol.parse("carol:x:1001:100:Carol:/home/carol:/bin/sh"));
  ASSERT_TRUE(op.add(carol));
  std::vector<std::string> names;
  op.forEachRecord([&](const DBPasswd& record) { names.push_back(record.format()); });
  EXPECT_EQ(names, (std::vector<std::string>{"root:x:0:0:root:/root:/bin/bash", "daemon:x:1:1::/:/sbin/nologin",
                                             "carol:x:1001:100:Carol:/home/carol:/bin/sh"}));
}

}  // namespace
}  // namespace vesk::test
