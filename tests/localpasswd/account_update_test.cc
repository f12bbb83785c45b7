#include "account_update.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <filesystem>
#include <fstream>
#include <iterator>

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
  static std::string read(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  vesk::SystemLockCalls saved_{};
  std::string dir_;
  PasswdRun run_;
};

TEST_F(AccountUpdateTest, AgingRulesAreCheckedAgainOnTheRecordReadUnderTheLock) {
  // Since the first look, an administrator locked the account, or it was changed today with a
  // minimum age: the write must not go through.
  for (const std::string& line : {std::string("judy:!$1$old$OLD:19000:0:99999:7:::\n"),
                                  "judy:$1$old$OLD:" + std::to_string(time(nullptr) / 86400) + ":5:99999:7:::\n"}) {
    const std::string path = dir_ + "/shadow";
    std::ofstream(path) << line;
    testing::internal::CaptureStderr();
    EXPECT_EQ(updateShadowPassword(run_, path.c_str(), true), 1) << line;
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("The password for judy cannot be changed"), std::string::npos) << err;
    EXPECT_EQ(read(path), line);
    EXPECT_FALSE(std::filesystem::exists(path + ".lock"));
    EXPECT_EQ(updateShadowPassword(run_, path.c_str(), false), 0) << "root is not bound by the rules";
  }
}

}  // namespace
