#include "account_update.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "system_lock.h"

namespace {

int noSystemLock() { return 0; }

class AccountUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = vesk::setSystemLockCalls({noSystemLock, noSystemLock});
    char dir[] = "/tmp/kestrova-update-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    run_.progName = "passwd";
    run_.targetName = "judy";
    run_.storedHash = "$1$newsalt$NEWHASHNEWHASHNEWHASH.";
  }
  void TearDown() override {
    vesk::setSystemLockCalls(saved_);
    std::filesystem::remove_all(dir_);
  }
  std::string write(const std::string& name, const std::string& text) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path) << text;
    return path;
  }
  static std::string read(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  static long long today() { return static_cast<long long>(time(nullptr)) / 86400; }

  vesk::SystemLockCalls saved_{};
  std::string dir_;
  PasswdRun run_;
};

TEST_F(AccountUpdateTest, ShadowRecordGetsTheHashAndTodayAndNothingElseChanges) {
  const std::string before = "root:*:19000:0:99999:7:::\njudy:$1$old$OLD:19000:5:99999:7:::\n# kept\n";
  const std::string path = write("shadow", before);
  EXPECT_EQ(updateShadowPassword(run_, path.c_str(), false), 0);
  EXPECT_EQ(read(path), "root:*:19000:0:99999:7:::\njudy:" + run_.storedHash + ":" + std::to_string(today()) +
                            ":5:99999:7:::\n# kept\n");
  EXPECT_EQ(read(path + "-"), before) << "the backup holds the old file";
  EXPECT_FALSE(std::filesystem::exists(path + ".lock"));
}

TEST_F(AccountUpdateTest, AgingRulesAreCheckedAgainOnTheRecordReadUnderTheLock) {
  // Since the first look, an administrator locked the account, or it was changed today with a
  // minimum age: the write must not go through.
  for (const std::string& line : {std::string("judy:!$1$old$OLD:19000:0:99999:7:::\n"),
                                  "judy:$1$old$OLD:" + std::to_string(today()) + ":5:99999:7:::\n"}) {
    const std::string path = write("shadow", line);
    testing::internal::CaptureStderr();
    EXPECT_EQ(updateShadowPassword(run_, path.c_str(), true), 1) << line;
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("The password for judy cannot be changed"), std::string::npos) << err;
    EXPECT_EQ(read(path), line);
    EXPECT_FALSE(std::filesystem::exists(path + ".lock"));
    EXPECT_EQ(updateShadowPassword(run_, path.c_str(), false), 0) << "root is not bound by the rules";
  }
}

TEST_F(AccountUpdateTest, MissingRecordIsRefusedWithoutTouchingTheFile) {
  const std::string text = "root:x:0:0:root:/root:/bin/bash\n";
  const std::string path = write("passwd", text);
  testing::internal::CaptureStderr();
  EXPECT_EQ(updatePasswdPassword(run_, path.c_str()), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "passwd: cannot find user judy\n");
  EXPECT_EQ(read(path), text);
}

TEST_F(AccountUpdateTest, PasswdRecordGetsTheHash) {
  const std::string path = write("passwd", "judy:x:1000:1000:Judy:/home/judy:/bin/sh\n");
  EXPECT_EQ(updatePasswdPassword(run_, path.c_str()), 0);
  EXPECT_EQ(read(path), "judy:" + run_.storedHash + ":1000:1000:Judy:/home/judy:/bin/sh\n");
}

}  // namespace
