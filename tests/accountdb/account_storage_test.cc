// The storages on the system's own paths: the command-backed ones with the system's real useradd,
// userdel, groupadd and groupdel, the account storages, and the system's password-file lock. Runs
// in a private mount namespace with a copy of /etc over /etc and empty file systems over /home,
// /var/log and /var/mail (needs root); every change is checked with getent and pwck.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "db_account.h"
#include "db_command.h"
#include "db_file.h"
#include "test_support.h"

namespace vesk::test {
namespace {

std::string getent(const std::string& database, const std::string& key) {
  const auto result = runProgram({"/usr/bin/getent", database, key});
  return result.status == 0 ? result.output : "";
}

// Who holds a write lock on the system's lock file, as another process sees it: 0 nobody, 1 this
// process, 2 another.
int systemLockHolder() {
  const pid_t self = getpid();
  return runInChild([self] {
    const int fd = open("/etc/.pwd.lock", O_RDONLY | O_CLOEXEC);
    struct flock probe = {};
    probe.l_type = F_WRLCK;
    if (fd < 0 || fcntl(fd, F_GETLK, &probe) != 0) return 3;
    return probe.l_type == F_UNLCK ? 0 : probe.l_pid == self ? 1 : 2;
  });
}

class AccountStorageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!enterPrivateMountNamespace()) GTEST_SKIP() << "needs root for a private mount namespace";
    ASSERT_TRUE(overlayEtcWithCopy(dir_ / "etc"));
    mounts_.push_back("/etc");
    for (const char* target : {"/home", "/var/log", "/var/mail"}) {
      ASSERT_TRUE(mountTmpfs(target, "16m")) << target;
      mounts_.push_back(target);
    }
    pwckBefore_ = runProgram({"/usr/sbin/pwck", "-r"});
  }
  void TearDown() override {
    for (auto it = mounts_.rbegin(); it != mounts_.rend(); ++it) unmount(*it);
  }
  // pwck and grpck find nothing that they did not find in the copy of /etc before the test, and
  // no lock or temporary file is left.
  void expectSoundFiles() {
    const auto after = runProgram({"/usr/sbin/pwck", "-r"});
    EXPECT_EQ(std::make_pair(after.status, after.output), std::make_pair(pwckBefore_.status, pwckBefore_.output));
    EXPECT_EQ(runProgram({"/usr/sbin/grpck", "-r"}).status, 0);
    for (const char* file : {"/etc/passwd.lock", "/etc/shadow.lock", "/etc/group.lock", "/etc/passwd+"}) {
      EXPECT_FALSE(exists(file)) << file;
    }
    EXPECT_EQ(DBFile::lockedFileCount(), 0);
  }

  TempDir dir_;
  LogCapture log_;
  std::vector<std::string> mounts_;
  ProgramResult pwckBefore_{};
};

TEST_F(AccountStorageTest, CommandAndAccountStoragesChangeTheSystemFiles) {
  ASSERT_EQ(mkdir("/home/build", 0755), 0);
  // A uid no other test runs processes under: userdel refuses while any process has it. The
  // comment reaches useradd as one literal argument, never through a shell.
  const std::string marker = dir_ / "ran";
  const std::string line = "build:x:48731:100:Build; touch " + marker + " $(id):/home/build:/bin/sh";
  const std::string command = "/usr/sbin/useradd -u 48731 -g 100 -c Build; touch " + marker +
                              " $(id) -d /home/build -s /bin/sh build ";
  DBPwCommand users;
  testing::internal::CaptureStdout();
  ASSERT_TRUE(users.add(line)) << testing::PrintToString(log_.records());
  EXPECT_FALSE(users.add(line));  // the user exists: useradd fails
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "executing command (" + command + ")...\n" +
                                                        "executing command (" + command + ")...\n");
  EXPECT_TRUE(log_.has("1: command (" + command + ") failed, rc = 9."));
  EXPECT_FALSE(exists(marker));
  EXPECT_EQ(getent("passwd", "build"), line + "\n");
  ASSERT_TRUE(users.open());
  const std::string snapshot = users.snapshotName();
  EXPECT_TRUE(exists(snapshot));
  users.close();
  EXPECT_FALSE(exists(snapshot));
  ASSERT_TRUE(users.update("build:x:48731:100:Builder:/home/build:/bin/bash"));
  EXPECT_EQ(getent("passwd", "build"), "build:x:48731:100:Builder:/home/build:/bin/bash\n");
  testing::internal::CaptureStdout();
  EXPECT_TRUE(users.remove("build:x:48731:100:Builder:/home/build:/bin/bash"));
  DBGrCommand groups;
  EXPECT_TRUE(groups.add("builders:x:1500:"));
  EXPECT_EQ(getent("group", "builders"), "builders:x:1500:\n");
  EXPECT_TRUE(groups.remove("builders:x:1500:"));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(getent("passwd", "build") + getent("shadow", "build") + getent("group", "builders"), "");
  expectSoundFiles();

  DBPwUser accounts;
  DBGrGroup accountGroups;
  const std::string carol = "carol:x:1001:100:Carol:/home/carol:/bin/sh";
  ASSERT_TRUE(accounts.add(carol));
  EXPECT_EQ(getent("passwd", "carol"), carol + "\n");
  EXPECT_EQ(getent("shadow", "carol"), "carol:*:::::::\n");
  ASSERT_TRUE(accounts.update("carol:x:1001:100:Carol Smith:/home/carol:/bin/bash"));
  EXPECT_EQ(getent("passwd", "carol"), "carol:x:1001:100:Carol Smith:/home/carol:/bin/bash\n");
  ASSERT_TRUE(accountGroups.add("carols:x:1600:carol"));
  EXPECT_EQ(getent("group", "carols"), "carols:x:1600:carol\n");
  ASSERT_TRUE(accountGroups.remove("carols:x:1600:"));
  ASSERT_TRUE(accounts.remove(carol));
  EXPECT_EQ(getent("passwd", "carol") + getent("shadow", "carol") + getent("group", "carols"), "");
  expectSoundFiles();
}

TEST_F(AccountStorageTest, SystemLockIsHeldFromFirstLockToLastUnlock) {
  ASSERT_EQ(systemLockHolder(), 0);
  DBFile passwd("/etc/passwd");
  DBFile shadow("/etc/shadow");
  ASSERT_TRUE(passwd.lock());
  EXPECT_EQ(systemLockHolder(), 1);
  ASSERT_TRUE(shadow.lock());
  passwd.unlock();
  EXPECT_EQ(systemLockHolder(), 1);
  shadow.unlock();
  EXPECT_EQ(systemLockHolder(), 0);
}

}  // namespace
}  // namespace vesk::test
