// The system's own password-file lock, taken by DBFile through lckpwdf. Runs in a private mount
// namespace with a copy of /etc over /etc, so that the lock is that of the copy (needs root).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "db_file.h"
#include "test_support.h"

namespace vesk::test {
namespace {

constexpr const char* kSystemLockFile = "/etc/.pwd.lock";

// The process holding a write lock on the system lock file, as another process sees it; 0 when
// none does.
long systemLockHolder() {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    long holder = -1;
    const int fd = open(kSystemLockFile, O_RDONLY | O_CLOEXEC);
    struct flock probe = {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    if (fd >= 0 && fcntl(fd, F_GETLK, &probe) == 0) holder = probe.l_type == F_UNLCK ? 0 : probe.l_pid;
    _exit(write(pipeFds[1], &holder, sizeof holder) == sizeof holder ? 0 : 1);
  }
  close(pipeFds[1]);
  long holder = -1;
  if (read(pipeFds[0], &holder, sizeof holder) != sizeof holder) holder = -1;
  close(pipeFds[0]);
  waitpid(pid, nullptr, 0);
  return holder;
}

class SystemLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!enterPrivateMountNamespace()) GTEST_SKIP() << "needs root for a private mount namespace";
    mounted_ = overlayEtcWithCopy(dir_ / "etc");
    ASSERT_TRUE(mounted_);
  }
  void TearDown() override {
    if (mounted_) unmount("/etc");
  }

  TempDir dir_;
  bool mounted_ = false;
};

TEST_F(SystemLockTest, SystemLockIsHeldFromFirstLockToLastUnlock) {
  const std::string passwd = dir_ / "passwd";
  const std::string shadow = dir_ / "shadow";
  writeFile(passwd, "root:x:0:0:root:/root:/bin/bash\n");
  writeFile(shadow, "root:*:19000:0:99999:7:::\n", 0640);
  ASSERT_EQ(systemLockHolder(), 0);
  DBFile passwdFile(passwd.c_str());
  DBFile shadowFile(shadow.c_str());
  ASSERT_TRUE(passwdFile.lock());
  EXPECT_EQ(systemLockHolder(), getpid());
  ASSERT_TRUE(shadowFile.lock());
  passwdFile.unlock();
  EXPECT_EQ(systemLockHolder(), getpid());
  shadowFile.unlock();
  EXPECT_EQ(systemLockHolder(), 0);
}

}  // namespace
}  // namespace vesk::test
