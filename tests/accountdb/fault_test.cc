// Write-back under faults: a full file system, a rename or an fsync that fails. Each case checks
// the invariant: commit fails with a message naming the file and the reason, the account file is
// byte for byte what it was, no temporary file remains and the lock is released. The mounts are
// made in a private mount namespace of the test process (needs root).
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <functional>

#include "db_file.h"
#include "db_operator.h"
#include "db_records.h"
#include "test_support.h"

// While set, fsync fails with EIO on the descriptors it picks. The library's calls reach this
// definition before the C library's.
std::function<bool(int)> failFsyncOn;

extern "C" int fsync(int fd) {
  if (failFsyncOn && failFsyncOn(fd)) {
    errno = EIO;
    return -1;
  }
  static const auto next = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fsync"));
  return next(fd);
}

namespace vesk::test {
namespace {

std::string shadowLines(int count) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    text += "user" + std::to_string(i) + ":$1$abcdefgh$0123456789abcdefghijkl:19000:0:99999:7:::\n";
  }
  return text;
}

class FaultTest : public DBTest {
 protected:
  void SetUp() override {
    if (!enterPrivateMountNamespace()) GTEST_SKIP() << "needs root for a private mount namespace";
    mountPoint_ = dir_ / "fs";
    ASSERT_EQ(mkdir(mountPoint_.c_str(), 0755), 0);
  }
  void TearDown() override {
    if (!mountPoint_.empty()) unmount(mountPoint_);
  }

  // Changes one record of path through an operator; every step up to the commit must succeed.
  Change changeOneRecord(const std::string& path) {
    return changeShadowPassword(path, "user7", "$1$changed$0123456789abcdefghijkl");
  }

  void expectInvariant(const std::string& path, const std::string& before) {
    EXPECT_EQ(readFile(path), before);
    EXPECT_FALSE(exists(path + "+"));
    EXPECT_FALSE(exists(path + ".lock"));
    EXPECT_EQ(DBFile::lockedFileCount(), 0);
  }

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
    ASSERT_TRUE(mountTmpfs(mountPoint_, "1m"));
    writeFile(path, before, 0640);
    struct statvfs fs;
    ASSERT_EQ(statvfs(mountPoint_.c_str(), &fs), 0);
    const std::size_t available = fs.f_bavail * fs.f_frsize;
    ASSERT_GT(available, c.free + 16384);
    writeFile(mountPoint_ + "/filler", std::string(available - c.free - 16384, 'x'));  // room for the lock
    log_.clear();
    EXPECT_EQ(changeOneRecord(path), Change::CommitFailed);
    EXPECT_TRUE(log_.has(c.message));
    EXPECT_NE(testing::PrintToString(log_.records()).find(" failed: No space left on device."), std::string::npos);
    expectInvariant(path, before);
    ASSERT_TRUE(unmount(mountPoint_));
  }
}

TEST_F(FaultTest, FailingRenameLeavesFileUnchanged) {
  const std::string before = shadowLines(20);
  const std::string path = mountPoint_ + "/shadow";
  writeFile(path, before, 0640);
  ASSERT_TRUE(bindMount(path, path));  // a mount point cannot be renamed over
  EXPECT_EQ(changeOneRecord(path), Change::CommitFailed);
  EXPECT_TRUE(log_.has("1: cannot rename file " + path + "+ to " + path + "."));
  EXPECT_TRUE(log_.has("1: rename of " + path + "+ failed: Device or resource busy."));
  expectInvariant(path, before);
  EXPECT_EQ(readFile(path + "-"), before);
  unmount(path);
}

TEST_F(FaultTest, FailingFsyncFailsTheCommit) {
  const std::string before = shadowLines(20);
  const std::string path = mountPoint_ + "/shadow";
  writeFile(path, before, 0640);
  failFsyncOn = [](int fd) {
    char name[256] = {};
    return readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), name, sizeof name - 1) > 0 &&
           std::string(name).back() == '+';
  };
  EXPECT_EQ(changeOneRecord(path), Change::CommitFailed);
  EXPECT_TRUE(log_.has("1: fsync of " + path + "+ failed: Input/output error."));
  expectInvariant(path, before);
  // The directory: the new file is in place but may not survive a crash, which the caller learns.
  failFsyncOn = [](int fd) {
    struct stat status;
    return fstat(fd, &status) == 0 && S_ISDIR(status.st_mode);
  };
  EXPECT_EQ(changeOneRecord(path), Change::CommitFailed);
  failFsyncOn = nullptr;
  EXPECT_TRUE(log_.has("1: fsync of " + mountPoint_ + " failed: Input/output error."));
  EXPECT_FALSE(exists(path + ".lock"));
}

}  // namespace
}  // namespace vesk::test
