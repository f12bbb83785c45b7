// Write-back under faults: a full file system, a rename that fails, a read-only directory. Each
// case checks the invariant: commit fails with a message naming the file and the reason, the
// account file is byte for byte what it was, no temporary file remains and the lock is released.
//
// The faults are made with mounts in a private mount namespace of the test process (needs root).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>

#include "db_file.h"
#include "db_operator.h"
#include "db_records.h"
#include "test_support.h"

namespace {

using vesk::DBFile;
using vesk::DBOperator;
using vesk::DBShadow;
using vesk::test::exists;
using vesk::test::FakeSystemLock;
using vesk::test::LogCapture;
using vesk::test::readFile;
using vesk::test::TempDir;
using vesk::test::writeFile;

using ShadowOperator = DBOperator<DBShadow, DBFile>;

std::string shadowLines(int count) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    text += "user" + std::to_string(i) + ":$1$abcdefgh$0123456789abcdefghijkl:19000:0:99999:7:::\n";
  }
  return text;
}

class FaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!vesk::test::enterPrivateMountNamespace()) GTEST_SKIP() << "needs root for a private mount namespace";
    mountPoint_ = dir_ / "fs";
    ASSERT_EQ(mkdir(mountPoint_.c_str(), 0755), 0);
  }
  void TearDown() override {
    if (!mountPoint_.empty()) vesk::test::unmount(mountPoint_);
  }

  // Changes one record of path through an operator; returns what commit returned.
  bool changeOneRecord(const std::string& path) {
    ShadowOperator op(path);
    EXPECT_TRUE(op.storage.lock());
    EXPECT_TRUE(op.storage.open());
    EXPECT_TRUE(op.load(op.storage));
    DBShadow record = op.find("user7");
    EXPECT_FALSE(record.isEmpty());
    record.password = "$1$changed$0123456789abcdefghijkl";
    EXPECT_TRUE(op.update(record));
    return op.commit();
  }

  void expectInvariant(const std::string& path, const std::string& before) {
    EXPECT_EQ(readFile(path), before);
    EXPECT_FALSE(exists(path + "+"));
    EXPECT_FALSE(exists(path + ".lock"));
    EXPECT_EQ(DBFile::lockedFileCount(), 0);
  }

  TempDir dir_;
  FakeSystemLock systemLock_;
  LogCapture log_;
  std::string mountPoint_;
};

// A small file system, filled up so that only `free` bytes are left once the account file is in.
TEST_F(FaultTest, FullFileSystemLeavesFileUnchanged) {
  const std::string before = shadowLines(2000);  // about 110 KB
  struct Case {
    const char* what;
    std::size_t free;
    std::string message;  // the message of the failing step
  };
  const std::string path = mountPoint_ + "/shadow";
  const std::vector<Case> cases = {
      {"backup does not fit", before.size() / 2,
       "1: cannot create backup file " + path + "- for " + path + "."},
      {"temporary file does not fit", before.size() * 3 / 2,
       "1: cannot write temporary file " + path + "+ for " + path + "."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(vesk::test::mountTmpfs(mountPoint_, "1m"));
    writeFile(path, before, 0640);
    struct statvfs fs;
    ASSERT_EQ(statvfs(mountPoint_.c_str(), &fs), 0);
    const std::size_t available = fs.f_bavail * fs.f_frsize;
    ASSERT_GT(available, c.free + 16384);
    writeFile(mountPoint_ + "/filler", std::string(available - c.free - 16384, 'x'));  // room for the lock
    log_.clear();
    EXPECT_FALSE(changeOneRecord(path));
    const auto records = log_.records();
    EXPECT_NE(std::find(records.begin(), records.end(), c.message), records.end());
    EXPECT_NE(std::find_if(records.begin(), records.end(),
                           [](const std::string& r) { return r.find(" failed: No space left on device.") != r.npos; }),
              records.end());
    expectInvariant(path, before);
    ASSERT_TRUE(vesk::test::unmount(mountPoint_));
  }
}

TEST_F(FaultTest, FailingRenameLeavesFileUnchanged) {
  const std::string before = shadowLines(20);
  const std::string path = mountPoint_ + "/shadow";
  writeFile(path, before, 0640);
  ASSERT_TRUE(vesk::test::bindMount(path, path));  // a mount point cannot be renamed over
  EXPECT_FALSE(changeOneRecord(path));
  EXPECT_TRUE(log_.has("1: cannot rename file " + path + "+ to " + path + "."));
  EXPECT_TRUE(log_.has("1: rename of " + path + "+ failed: Device or resource busy."));
  expectInvariant(path, before);
  EXPECT_EQ(readFile(path + "-"), before);
  vesk::test::unmount(path);
}

TEST_F(FaultTest, ReadOnlyDirectoryRefusesTheLockAndCreatesNothing) {
  const std::string before = shadowLines(20);
  const std::string path = mountPoint_ + "/shadow";
  writeFile(path, before, 0640);
  ASSERT_TRUE(vesk::test::bindMount(mountPoint_, mountPoint_, true));
  {
    ShadowOperator op(path);
    EXPECT_FALSE(op.storage.lock());
    EXPECT_FALSE(op.storage.open());
    EXPECT_FALSE(op.load(op.storage));
    EXPECT_TRUE(op.commit());
  }
  EXPECT_TRUE(log_.has("1: cannot lock file " + path + "."));
  expectInvariant(path, before);
  vesk::test::unmount(mountPoint_);
  EXPECT_EQ(readFile(path), before);
  EXPECT_FALSE(exists(path + "-"));
}

}  // namespace
