// Write-back under faults and hostile names: a full file system, a file size limit, a rename or an
// fsync that fails, backups and temporary names that are links to other files. Each case checks the
// invariant: the account file is byte for byte the old or the new content and never reached through
// another name; the backup is the previous backup after a failure and a whole copy of the old file
// with the account file's mode after a success; no temporary file remains and the lock is released.
//
// The faults are made with mounts in a private mount namespace of the test process (needs root).
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <tuple>

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

// While set, called with every name unlinked, right after the unlink: a race planted there.
std::function<void(const char*)> afterUnlink;

extern "C" int unlink(const char* name) {
  static const auto next = reinterpret_cast<int (*)(const char*)>(dlsym(RTLD_NEXT, "unlink"));
  const int result = next(name);
  if (afterUnlink) {
    const int saved = errno;
    afterUnlink(name);
    errno = saved;
  }
  return result;
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
    expectNoLeftovers(path);
  }

  void expectNoLeftovers(const std::string& path) {
    EXPECT_FALSE(exists(path + "+"));
    EXPECT_FALSE(exists(path + "-+"));
    EXPECT_FALSE(exists(path + ".lock"));
    EXPECT_EQ(DBFile::lockedFileCount(), 0);
  }

  // After a commit: the new content in place, a backup that is its own file holding the old
  // content with the account file's owner and mode.
  void expectCommitted(const std::string& path, const std::string& before) {
    EXPECT_NE(readFile(path).find("user7:$1$changed$"), std::string::npos);
    struct stat file, backup;
    ASSERT_EQ(lstat(path.c_str(), &file), 0);
    ASSERT_EQ(lstat((path + "-").c_str(), &backup), 0);
    EXPECT_TRUE(S_ISREG(backup.st_mode));
    EXPECT_EQ(backup.st_nlink, 1u);
    EXPECT_EQ(std::tie(backup.st_mode, backup.st_uid, backup.st_gid), std::tie(file.st_mode, file.st_uid, file.st_gid));
    EXPECT_EQ(readFile(path + "-"), before);
    expectNoLeftovers(path);
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
    writeFile(path + "-", "previous backup\n", 0600);
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
    // The previous backup, or (once the backup step has passed) a whole copy of the file.
    const std::string backup = readFile(path + "-");
    EXPECT_TRUE(backup == "previous backup\n" || backup == before) << backup.size() << " bytes";
    ASSERT_TRUE(unmount(mountPoint_));
  }
}

// A caller's file size limit that the backup exceeds (SIGXFSZ ignored, as a caller may do).
TEST_F(FaultTest, FileSizeLimitLeavesFileAndBackupUnchanged) {
  const std::string before = shadowLines(200);
  const std::string path = dir_ / "shadow";
  writeFile(path, before, 0640);
  writeFile(path + "-", "previous backup\n", 0600);
  const int status = runInChild([&] {
    signal(SIGXFSZ, SIG_IGN);
    const struct rlimit limit = {before.size() / 2, before.size() / 2};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
    if (changeOneRecord(path) != Change::CommitFailed) return 3;
    return log_.has("1: cannot create backup file " + path + "- for " + path + ".") ? 0 : 4;
  });
  EXPECT_EQ(status, 0);
  expectInvariant(path, before);
  EXPECT_EQ(readFile(path + "-"), "previous backup\n");
}

// The new file is in place when the directory cannot be synced: the change stands, with a warning.
TEST_F(FaultTest, FailedDirectorySyncAfterTheRenameKeepsTheChange) {
  const std::string before = shadowLines(20);
  const std::string path = dir_ / "shadow";
  writeFile(path, before, 0640);
  DBOperator<DBShadow, DBFile> op(path);
  ASSERT_TRUE(op.storage.lock() && op.storage.open() && op.load(op.storage));
  DBShadow record = op.find("user7");
  record.password = "$1$changed$0123456789abcdefghijkl";
  ASSERT_TRUE(op.update(record));
  failFsyncOn = [](int fd) {
    struct stat status;
    return fstat(fd, &status) == 0 && S_ISDIR(status.st_mode);
  };
  const bool committed = op.commit();
  failFsyncOn = nullptr;
  EXPECT_TRUE(committed);
  EXPECT_EQ(op.storage.lastProblem().step, DBFileProblem::Step::kDirectorySync);
  EXPECT_TRUE(log_.has("1: fsync of " + dir_.path() + " failed: Input/output error."));
  expectCommitted(path, before);
}

// Names that lead elsewhere: the backup and the temporary names as hard links to the account file
// or symbolic links to a file of someone else's, and a backup readable by all.
TEST_F(FaultTest, LinkedBackupAndTemporaryNamesNeverReachOtherFiles) {
  const std::string before = shadowLines(20);
  const std::string path = dir_ / "shadow";
  const std::string victim = dir_ / "victim";
  struct Case {
    const char* what;
    std::function<void()> plant;
  };
  const std::vector<Case> cases = {
      {"hard-linked backup", [&] { ASSERT_EQ(link(path.c_str(), (path + "-").c_str()), 0); }},
      {"symlinked backup", [&] { ASSERT_EQ(symlink(victim.c_str(), (path + "-").c_str()), 0); }},
      {"hard-linked temporary name", [&] { ASSERT_EQ(link(path.c_str(), (path + "+").c_str()), 0); }},
      {"symlinked temporary name", [&] { ASSERT_EQ(symlink(victim.c_str(), (path + "+").c_str()), 0); }},
      {"hard-linked backup temporary name", [&] { ASSERT_EQ(link(path.c_str(), (path + "-+").c_str()), 0); }},
      {"symlinked backup temporary name", [&] { ASSERT_EQ(symlink(victim.c_str(), (path + "-+").c_str()), 0); }},
      {"backup readable by all", [&] { writeFile(path + "-", "old backup\n", 0644); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const char* suffix : {"-", "+", "-+"}) unlink((path + suffix).c_str());
    writeFile(path, before, 0640);
    writeFile(victim, "someone else's file\n", 0644);
    c.plant();
    EXPECT_EQ(changeOneRecord(path), Change::Committed);
    expectCommitted(path, before);
    EXPECT_EQ(readFile(victim), "someone else's file\n");
  }
}

// A link planted between the unlink of a temporary name and its creation is never written through.
TEST_F(FaultTest, LinkPlantedAfterTheUnlinkOfATemporaryNameIsNotFollowed) {
  const std::string before = shadowLines(20);
  const std::string path = dir_ / "shadow";
  const std::string victim = dir_ / "victim";
  for (const std::string suffix : {"+", "-+"}) {
    SCOPED_TRACE(suffix);
    writeFile(path, before, 0640);
    writeFile(victim, "someone else's file\n", 0644);
    const std::string planted = path + suffix;
    afterUnlink = [&](const char* name) {
      if (planted == name) {
        EXPECT_EQ(symlink(victim.c_str(), name), 0);
      }
    };
    EXPECT_EQ(changeOneRecord(path), Change::CommitFailed);
    afterUnlink = nullptr;
    EXPECT_EQ(readFile(victim), "someone else's file\n");
    EXPECT_EQ(readFile(path), before);
    unlink(planted.c_str());
    expectNoLeftovers(path);
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
  // The backup's temporary file, then the account file's.
  for (const std::string suffix : {"-+", "+"}) {
    SCOPED_TRACE(suffix);
    const std::string target = path + suffix;
    failFsyncOn = [target](int fd) {
      char name[256] = {};
      return readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), name, sizeof name - 1) > 0 && target == name;
    };
    EXPECT_EQ(changeOneRecord(path), Change::CommitFailed);
    failFsyncOn = nullptr;
    EXPECT_TRUE(log_.has("1: fsync of " + target + " failed: Input/output error."));
    expectInvariant(path, before);
  }
}

}  // namespace
}  // namespace vesk::test
