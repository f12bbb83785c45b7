// The two-level lock of DBFile: system lock, lock files, stale and live owners.
#include <gtest/gtest.h>
#include <unistd.h>

#include "db_file.h"
#include "test_support.h"

namespace vesk::test {
namespace {

class DBFileLockTest : public DBTest {
 protected:
  void SetUp() override {
    shadow_ = dir_ / "shadow";
    writeFile(shadow_, "root:*:19000:0:99999:7:::\n", 0640);
  }
  std::string lockName() const { return shadow_ + ".lock"; }
  static std::string ownerText(long pid) { return std::to_string(pid) + std::string(1, '\0'); }

  std::string shadow_;
};

TEST_F(DBFileLockTest, LockFileHoldsOwnPidAndNulAndGoesWithUnlock) {
  DBFile file(shadow_.c_str());
  ASSERT_TRUE(file.lock());
  EXPECT_TRUE(file.isLocked());
  EXPECT_EQ(readFile(lockName()), ownerText(getpid()));
  EXPECT_EQ(dir_.list(), (std::vector<std::string>{"shadow", "shadow.lock"}));  // no link file left
  EXPECT_TRUE(log_.has("0: file " + shadow_ + " is locked."));
  file.unlock();
  EXPECT_FALSE(file.isLocked());
  EXPECT_FALSE(exists(lockName()));
  EXPECT_EQ(log_.records(), (std::vector<std::string>{"0: file " + shadow_ + " is locked.",
                                                      "0: file " + shadow_ + " is unlocked.",
                                                      "0: all files are unlocked."}));
  EXPECT_EQ(FakeSystemLock::lockCalls, 1);
  EXPECT_EQ(FakeSystemLock::unlockCalls, 1);
  file.unlock();  // not locked: nothing happens
  EXPECT_EQ(FakeSystemLock::unlockCalls, 1);
}

TEST_F(DBFileLockTest, StaleLockOfDeadProcessIsTakenOver) {
  writeFile(lockName(), ownerText(deadPid()), 0600);
  DBFile file(shadow_.c_str());
  ASSERT_TRUE(file.lock());
  EXPECT_EQ(readFile(lockName()), ownerText(getpid()));
  EXPECT_TRUE(log_.has("0: file " + shadow_ + " is locked."));
  file.unlock();
}

// Lock files that must never be taken over, and whether their owner is named.
TEST_F(DBFileLockTest, LockFilesOfLiveOrUnknownOwnersAreRefusedAtOnce) {
  const pid_t sleeper = startSleeper();
  struct Case {
    const char* what;
    std::string content;
    bool namesOwner;
  };
  const std::vector<Case> cases = {
      {"live owner", ownerText(sleeper), true},
      {"own process", ownerText(getpid()), true},
      {"empty", "", false},
      {"not a number", std::string("abc") + '\0', false},
      {"zero", ownerText(0), false},
      {"every process", ownerText(-1), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    writeFile(lockName(), c.content, 0600);
    log_.clear();
    FakeSystemLock::lockCalls = FakeSystemLock::unlockCalls = 0;
    DBFile file(shadow_.c_str());
    EXPECT_FALSE(file.lock());
    EXPECT_FALSE(file.isLocked());
    EXPECT_EQ(readFile(lockName()), c.content);
    EXPECT_EQ(dir_.list(), (std::vector<std::string>{"shadow", "shadow.lock"}));
    std::vector<std::string> expected = {"1: cannot lock file " + shadow_ + "."};
    const long owner = c.content == ownerText(sleeper) ? sleeper : getpid();
    if (c.namesOwner) {
      expected.push_back("1: lock file " + lockName() + " is held by process " + std::to_string(owner) + ".");
    } else {
      expected.push_back("1: lock file " + lockName() + " holds no process id.");
    }
    EXPECT_EQ(log_.records(), expected);
    EXPECT_EQ(file.lastProblem().step,
              c.namesOwner ? DBFileProblem::Step::kLockBusy : DBFileProblem::Step::kLockInvalid);
    EXPECT_EQ(file.lastProblem().holder, c.namesOwner ? owner : 0);
    EXPECT_EQ(FakeSystemLock::lockCalls, 1);
    EXPECT_EQ(FakeSystemLock::unlockCalls, 1);
    EXPECT_EQ(DBFile::lockedFileCount(), 0);
  }
  killChild(sleeper);
}

TEST_F(DBFileLockTest, SameFileLockedTwiceIsRefusedAndFirstHolderStays) {
  DBFile first(shadow_.c_str());
  DBFile second(shadow_.c_str());
  ASSERT_TRUE(first.lock());
  EXPECT_FALSE(second.lock());
  EXPECT_FALSE(first.lock());  // the same object again
  EXPECT_TRUE(first.isLocked());
  EXPECT_EQ(readFile(lockName()), ownerText(getpid()));
  EXPECT_EQ(FakeSystemLock::lockCalls, 1);
  EXPECT_EQ(FakeSystemLock::unlockCalls, 0);
  first.unlock();
  EXPECT_EQ(DBFile::lockedFileCount(), 0);
}

TEST_F(DBFileLockTest, SystemLockIsTakenOnceForTwoFilesAndReleasedWithTheLast) {
  const std::string passwd = dir_ / "passwd";
  writeFile(passwd, "root:x:0:0:root:/root:/bin/bash\n");
  DBFile passwdFile(passwd.c_str());
  DBFile shadowFile(shadow_.c_str());
  ASSERT_TRUE(passwdFile.lock());
  ASSERT_TRUE(shadowFile.lock());
  EXPECT_EQ(FakeSystemLock::lockCalls, 1);
  EXPECT_EQ(DBFile::lockedFileCount(), 2);
  log_.clear();
  passwdFile.unlock();
  EXPECT_EQ(log_.records(), (std::vector<std::string>{"0: file " + passwd + " is unlocked."}));
  EXPECT_EQ(FakeSystemLock::unlockCalls, 0);
  shadowFile.unlock();
  EXPECT_EQ(log_.records(), (std::vector<std::string>{"0: file " + passwd + " is unlocked.",
                                                      "0: file " + shadow_ + " is unlocked.",
                                                      "0: all files are unlocked."}));
  EXPECT_EQ(FakeSystemLock::unlockCalls, 1);
}

TEST_F(DBFileLockTest, FailingSecondFileKeepsFirstLockAndSystemLock) {
  const std::string passwd = dir_ / "passwd";
  writeFile(passwd, "root:x:0:0:root:/root:/bin/bash\n");
  writeFile(lockName(), ownerText(getpid()), 0600);
  DBFile passwdFile(passwd.c_str());
  DBFile shadowFile(shadow_.c_str());
  ASSERT_TRUE(passwdFile.lock());
  EXPECT_FALSE(shadowFile.lock());
  EXPECT_TRUE(passwdFile.isLocked());
  EXPECT_EQ(FakeSystemLock::unlockCalls, 0);
  EXPECT_EQ(DBFile::lockedFileCount(), 1);
  passwdFile.unlock();
  EXPECT_EQ(FakeSystemLock::unlockCalls, 1);
}

TEST_F(DBFileLockTest, FailingSystemLockTakesNothing) {
  FakeSystemLock::failLock = true;
  DBFile file(shadow_.c_str());
  EXPECT_FALSE(file.lock());
  EXPECT_EQ(log_.records(), (std::vector<std::string>{"3: lckpwdf() failed."}));
  EXPECT_EQ(dir_.list(), (std::vector<std::string>{"shadow"}));
  EXPECT_EQ(FakeSystemLock::unlockCalls, 0);
}

TEST_F(DBFileLockTest, DestroyingALockedFileReleasesItsLock) {
  const int status = runInChild([&] {
    { DBFile file(shadow_.c_str()); if (!file.lock()) return 1; }
    if (exists(lockName())) return 2;
    return DBFile::lockedFileCount() == 0 && FakeSystemLock::unlockCalls == 1 ? 0 : 3;
  });
  EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace vesk::test
