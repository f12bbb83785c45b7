// The command-backed and account storages on the system's own paths, with the system's real
// useradd, userdel, groupadd and groupdel. Runs in a private mount namespace with a copy of /etc
// over /etc and empty file systems over /home, /var/log and /var/mail (needs root); the results
// are checked with getent and pwck inside the namespace.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include "account_paths.h"
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

class AccountCommandsTest : public ::testing::Test {
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
  // pwck finds nothing that it did not find in the copy of /etc before the test.
  void expectPwckAccepts() {
    const auto after = runProgram({"/usr/sbin/pwck", "-r"});
    EXPECT_EQ(after.status, pwckBefore_.status);
    EXPECT_EQ(after.output, pwckBefore_.output);
    EXPECT_EQ(runProgram({"/usr/sbin/grpck", "-r"}).status, 0);
  }
  void expectNothingLocked() {
    for (const char* file : {"/etc/passwd.lock", "/etc/shadow.lock", "/etc/group.lock", "/etc/passwd+",
                             "/etc/shadow+", "/etc/group+"}) {
      EXPECT_FALSE(exists(file)) << file;
    }
    EXPECT_EQ(DBFile::lockedFileCount(), 0);
  }

  TempDir dir_;
  LogCapture log_;
  std::vector<std::string> mounts_;
  ProgramResult pwckBefore_{};
};

TEST_F(AccountCommandsTest, UserCommandsAddUpdateAndRemoveAUser) {
  ASSERT_EQ(mkdir("/home/build", 0755), 0);
  // A uid no other test runs processes under: userdel refuses (rc 8) while any process of the
  // machine, in any mount namespace, has the user's uid, and the whole-program tests run ordinary
  // users from 1000 up.
  const std::string line = "build:x:48731:100:Build account:/home/build:/bin/sh";
  const std::string command = "/usr/sbin/useradd -u 48731 -g 100 -c Build account -d /home/build -s /bin/sh build ";
  DBPwCommand users;
  testing::internal::CaptureStdout();
  const bool added = users.add(line);
  const std::string announced = testing::internal::GetCapturedStdout();
  ASSERT_TRUE(added) << announced << testing::PrintToString(log_.records());
  EXPECT_EQ(announced, "executing command (" + command + ")...\n");
  EXPECT_EQ(getent("passwd", "build"), line + "\n");
  EXPECT_EQ(getent("shadow", "build").rfind("build:", 0), 0u);
  expectPwckAccepts();

  log_.clear();
  testing::internal::CaptureStdout();
  EXPECT_FALSE(users.add(line));  // the user exists: useradd fails
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(log_.has("1: command (" + command + ") failed, rc = 9."));

  ASSERT_TRUE(users.open());
  bool seen = false;
  for (bool more = users.hasRecord(); more; more = users.next()) seen = seen || users.getRecord() == line;
  EXPECT_TRUE(seen);
  const std::string snapshot = users.snapshotName();
  users.close();
  EXPECT_FALSE(exists(snapshot));

  ASSERT_TRUE(users.update("build:x:48731:100:Builder:/home/build:/bin/bash"));
  EXPECT_EQ(getent("passwd", "build"), "build:x:48731:100:Builder:/home/build:/bin/bash\n");
  expectPwckAccepts();
  expectNothingLocked();

  testing::internal::CaptureStdout();
  const bool removed = users.remove("build:x:48731:100:Builder:/home/build:/bin/bash");
  const std::string announcedRemoval = testing::internal::GetCapturedStdout();
  ASSERT_TRUE(removed) << announcedRemoval << testing::PrintToString(log_.records());
  EXPECT_EQ(announcedRemoval, "executing command (/usr/sbin/userdel build )...\n");
  EXPECT_EQ(getent("passwd", "build"), "");
  EXPECT_EQ(getent("shadow", "build"), "");
  expectPwckAccepts();
}

TEST_F(AccountCommandsTest, GroupCommandsAddAndRemoveAGroup) {
  DBGrCommand groups;
  testing::internal::CaptureStdout();
  ASSERT_TRUE(groups.add("builders:x:1500:"));
  EXPECT_FALSE(groups.add("builders:x:1500:"));
  ASSERT_TRUE(groups.update("builders:x:1500:root"));
  const std::string afterUpdate = getent("group", "builders");
  ASSERT_TRUE(groups.remove("builders:x:1500:"));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "executing command (/usr/sbin/groupadd -g 1500 builders )...\n"
            "executing command (/usr/sbin/groupadd -g 1500 builders )...\n"
            "executing command (/usr/sbin/groupdel builders )...\n");
  EXPECT_EQ(afterUpdate, "builders:x:1500:root\n");
  EXPECT_TRUE(log_.has("1: command (/usr/sbin/groupadd -g 1500 builders ) failed, rc = 9."));
  EXPECT_EQ(getent("group", "builders"), "");
  EXPECT_EQ(runProgram({"/usr/sbin/grpck", "-r"}).status, 0);
  expectNothingLocked();
}

TEST_F(AccountCommandsTest, AccountStoragesChangeTheSystemFilesDirectly) {
  ASSERT_EQ(mkdir("/home/carol", 0755), 0);
  DBPwUser users;
  DBGrGroup groups;
  const std::string carol = "carol:x:1001:100:Carol:/home/carol:/bin/sh";
  ASSERT_TRUE(users.add(carol));
  EXPECT_EQ(getent("passwd", "carol"), carol + "\n");
  EXPECT_EQ(getent("shadow", "carol"), "carol:*:::::::\n");
  expectPwckAccepts();
  ASSERT_TRUE(users.update("carol:x:1001:100:Carol Smith:/home/carol:/bin/bash"));
  EXPECT_EQ(getent("passwd", "carol"), "carol:x:1001:100:Carol Smith:/home/carol:/bin/bash\n");
  ASSERT_TRUE(users.remove(carol));
  EXPECT_EQ(getent("passwd", "carol"), "");
  EXPECT_EQ(getent("shadow", "carol"), "");

  ASSERT_TRUE(groups.add("carols:x:1600:carol"));
  EXPECT_EQ(getent("group", "carols"), "carols:x:1600:carol\n");
  ASSERT_TRUE(groups.remove("carols:x:1600:"));
  EXPECT_EQ(getent("group", "carols"), "");
  expectPwckAccepts();
  expectNothingLocked();

  ASSERT_TRUE(users.open());  // reads /etc/passwd without a lock
  EXPECT_EQ(users.getRecord().rfind("root:", 0), 0u);
}

TEST_F(AccountCommandsTest, SnapshotThatCannotBeCreatedFailsOpen) {
  ASSERT_TRUE(mountTmpfs("/tmp", "1m"));
  mounts_.push_back("/tmp");
  ASSERT_EQ(mount(nullptr, "/tmp", nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
  DBPwCommand users;
  DBGrCommand groups;
  EXPECT_FALSE(users.open());
  const auto records = log_.records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].rfind("3: cannot create temporary file /tmp/passwddb.", 0), 0u) << records[0];
  log_.clear();
  EXPECT_FALSE(groups.open());
  EXPECT_TRUE(log_.records().empty());
  EXPECT_FALSE(users.isOpen());
}

}  // namespace
}  // namespace vesk::test
