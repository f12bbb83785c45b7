#include "account_update.h"

#include <gtest/gtest.h>
#include <time.h>

#include "test_support.h"

namespace vesk::test {
namespace {

using AccountUpdateTest = DBTest;

TEST_F(AccountUpdateTest, AgingRulesAreCheckedAgainOnTheRecordReadUnderTheLock) {
  PasswdRun run;
  run.progName = "passwd";
  run.targetName = "judy";
  run.storedHash = "$1$newsalt$NEWHASHNEWHASHNEWHASH.";
  const std::string path = dir_ / "shadow";
  // Since the first look, an administrator locked the account, or it was changed today with a
  // minimum age: the write must not go through.
  for (const std::string& line : {std::string("judy:!$1$old$OLD:19000:0:99999:7:::\n"),
                                  "judy:$1$old$OLD:" + std::to_string(time(nullptr) / 86400) + ":5:99999:7:::\n"}) {
    writeFile(path, line);
    testing::internal::CaptureStderr();
    EXPECT_EQ(updateShadowPassword(run, path.c_str(), true), 1) << line;
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("The password for judy cannot be changed"), std::string::npos) << err;
    EXPECT_EQ(readFile(path), line);
    EXPECT_FALSE(exists(path + ".lock"));
    EXPECT_EQ(updateShadowPassword(run, path.c_str(), false), 0) << "root is not bound by the rules";
  }
}

}  // namespace
}  // namespace vesk::test
