// The account file library by behaviour: who may take a lock, that every line keeps its place and
// its bytes, what a replacement keeps of the old file, and what is refused before it reaches it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "db_file.h"
#include "db_operator.h"
#include "db_records.h"
#include "test_support.h"

namespace vesk::test {
namespace {

const std::string kPasswd = "root:x:0:0:root:/root:/bin/bash\n+bob\ndaemon:x:1:1::/:/sbin/nologin\n";

std::string ownerText(long pid) { return std::to_string(pid) + std::string(1, '\0'); }

class AccountFileTest : public DBTest {
 protected:
  void SetUp() override {
    path_ = dir_ / "passwd";
    writeFile(path_, kPasswd);
  }
  std::string lockName() const { return path_ + ".lock"; }
  // Locks, opens and loads the operator's own storage.
  static void start(DBOperator<DBPasswd, DBFile>& op) {
    ASSERT_TRUE(op.storage.lock());
    ASSERT_TRUE(op.storage.open());
    ASSERT_TRUE(op.load(op.storage));
  }

  std::string path_;
};

TEST_F(AccountFileTest, Lock_TakesOverOnlyTheLockOfADeadProcess) {
  const pid_t sleeper = startSleeper();
  struct Case {
    const char* what;
    std::string content;
    bool taken;
  };
  const std::vector<Case> cases = {
      {"dead owner", ownerText(deadPid()), true},      {"live owner", ownerText(sleeper), false},
      {"own process", ownerText(getpid()), false},     {"empty", "", false},
      {"not a number", std::string("abc") + '\0', false}, {"every process", ownerText(-1), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    writeFile(lockName(), c.content, 0600);
    DBFile file(path_.c_str());
    EXPECT_EQ(file.lock(), c.taken);
    EXPECT_EQ(readFile(lockName()), c.taken ? ownerText(getpid()) : c.content);
    EXPECT_FALSE(exists(path_ + "." + std::to_string(getpid()))) << "link file left";
    file.unlock();
    EXPECT_EQ(exists(lockName()), !c.taken);
    EXPECT_EQ(DBFile::lockedFileCount(), 0);
    EXPECT_EQ(FakeSystemLock::lockCalls, FakeSystemLock::unlockCalls);
  }
  killChild(sleeper);
}

// kill(pid, 0) cannot signal another user's process: that says the owner lives, not that it died.
TEST_F(AccountFileTest, Lock_LiveProcessOfAnotherUserKeepsItsLock) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  ASSERT_EQ(chmod(dir_.path().c_str(), 0777), 0);
  writeFile(lockName(), ownerText(getpid()), 0666);  // readable and writable: only the owner decides
  EXPECT_EQ(runInChild([&] {
              if (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0) return 2;
              DBFile file(path_.c_str());
              return file.lock() ? 1 : 0;
            }),
            0);
  EXPECT_EQ(readFile(lockName()), ownerText(getpid()));
}

TEST_F(AccountFileTest, Lock_GoesWithItsOwnerAndNeedsTheSystemLock) {
  {
    DBFile file(path_.c_str());
    ASSERT_TRUE(file.lock());
  }
  EXPECT_FALSE(exists(lockName()));
  EXPECT_EQ(std::make_pair(FakeSystemLock::unlockCalls, DBFile::lockedFileCount()), std::make_pair(1, 0));
  FakeSystemLock::failLock = true;
  DBFile file(path_.c_str());
  EXPECT_FALSE(file.lock());
  EXPECT_TRUE(log_.has("3: lckpwdf() failed."));
  EXPECT_FALSE(exists(lockName()));
}

// Lines that are no records stay where they are, byte for byte; compatibility lines move to the
// end; the old file stays as the backup; the new file keeps owner, group and read-write bits.
TEST_F(AccountFileTest, Write_KeepsEveryLineInPlaceOwnerAndModeAndTheOldFileAsBackup) {
  const std::string before = "# local users\nroot:x:0:0:root:/root:/bin/bash\r\n\n-bob::::::\nshort:x:1\n:x:0:0:::\n"
                             "  \t\nold:x:00042:0042:::\ntoo:x:1:1:g:/h:/bin/sh:many\n+\n" +
                             std::string("n\0l:x:3:3:::\n", 13) + "daemon:x:1:1::/:/sbin/nologin\n\ntail:x:9:9:::";
  writeFile(path_, before, 06640);
  const bool root = geteuid() == 0;
  ASSERT_TRUE(!root || chown(path_.c_str(), 1234, 2345) == 0);
  {
    DBOperator<DBPasswd, DBFile> op(path_);
    start(op);
    EXPECT_TRUE(op.find("short").isEmpty());
    DBPasswd daemon = op.find("daemon");
    daemon.shell = "/bin/sh";
    ASSERT_TRUE(op.update(daemon));
    DBPasswd carol;
    ASSERT_TRUE(carol.parse("carol:x:1001:100:Carol:/home/carol:/bin/sh"));
    ASSERT_TRUE(op.add(carol));
    ASSERT_TRUE(op.commit());
  }
  EXPECT_EQ(readFile(path_), "# local users\nroot:x:0:0:root:/root:/bin/bash\r\n\nshort:x:1\n:x:0:0:::\n  \t\n"
                             "old:x:00042:0042:::\ntoo:x:1:1:g:/h:/bin/sh:many\n" +
                                 std::string("n\0l:x:3:3:::\n", 13) + "daemon:x:1:1::/:/bin/sh\n\ntail:x:9:9:::\n" +
                                 "carol:x:1001:100:Carol:/home/carol:/bin/sh\n-bob::::::\n+\n");
  EXPECT_EQ(readFile(path_ + "-"), before);
  EXPECT_EQ(dir_.list(), (std::vector<std::string>{"passwd", "passwd-"}));
  struct stat status {};
  ASSERT_EQ(stat(path_.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  EXPECT_TRUE(!root || (status.st_uid == 1234 && status.st_gid == 2345));
  ASSERT_EQ(stat((path_ + "-").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u) << "the backup has the account file's mode";
  EXPECT_TRUE(!root || (status.st_uid == 1234 && status.st_gid == 2345));
}

TEST_F(AccountFileTest, Write_RefusesFieldsThatWouldBreakALineAndUnlockedFiles) {
  {
    DBOperator<DBPasswd, DBFile> op(path_);
    start(op);
    for (const auto& spoil : std::vector<std::function<void(DBPasswd&)>>{
             [](DBPasswd& r) { r.gecos = "a:b"; }, [](DBPasswd& r) { r.home = "/x\n/y"; },
             [](DBPasswd& r) { r.name = "+daemon"; }, [](DBPasswd& r) { r.complete = false; }}) {
      DBPasswd record = op.find("daemon");
      spoil(record);
      EXPECT_FALSE(op.update(record)) << record.format();
      EXPECT_FALSE(op.add(record)) << record.format();
    }
    EXPECT_TRUE(op.commit());
  }
  DBFile unlocked(path_.c_str());
  EXPECT_FALSE(unlocked.open());
  unlocked.setReadOnly(true);
  ASSERT_TRUE(unlocked.open());
  EXPECT_FALSE(unlocked.write({"x"}));
  EXPECT_EQ(readFile(path_), kPasswd);
  EXPECT_EQ(dir_.list(), (std::vector<std::string>{"passwd"}));
}

TEST_F(AccountFileTest, Records_OnlyLinesWithTheRightFieldsAndANameAreRecords) {
  struct Case {
    const char* line;
    bool passwd, shadow, group;
  };
  const Case cases[] = {
      {"root:x:0:0:root:/root:/bin/bash", true, false, false},
      {"alice:*:14000:0:99999:7:::", false, true, false},
      {"wheel:x:10:root,alice", false, false, true},
      {"six:x:1:1:g:/h", false, false, false},
      {"eight:x:1:1:g:/h:/bin/sh:", false, false, false},
      {"ten:*:1:2:3:4:5:6:7:8", false, false, false},
      {":x:0:0:::", false, false, false},
      {"+bob:x:1:1:::", false, false, false},
      {"-bob:*:::::::", false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    DBPasswd passwd;
    DBShadow shadow;
    DBGroup group;
    EXPECT_EQ(passwd.parse(c.line) && !passwd.isEmpty(), c.passwd);
    EXPECT_EQ(shadow.parse(c.line) && !shadow.isEmpty(), c.shadow);
    EXPECT_EQ(group.parse(c.line) && !group.isEmpty(), c.group);
    const std::string formatted = c.passwd ? passwd.format() : c.shadow ? shadow.format() : group.format();
    EXPECT_EQ(formatted, c.passwd || c.shadow || c.group ? c.line : "");
  }
}

}  // namespace
}  // namespace vesk::test
