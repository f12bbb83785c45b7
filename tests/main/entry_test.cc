#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "check_joined.h"
#include "passwd_main.h"
#include "props.h"

namespace {

TEST(EntryTest, LocalResultsMapToExitStatuses) {
  const struct {
    int result;
    int status;
  } table[] = {{0, 0}, {1, 27}, {2, 7}, {3, 6}, {6, 7}, {-1, 6}, {4, 6}, {5, 6}, {99, 6}};
  for (const auto& row : table) EXPECT_EQ(exitStatusForLocalResult(static_cast<LocalResult>(row.result)), row.status) << row.result;
}

TEST(EntryTest, JoinedCheckFollowsTheDomainSettingAndRespectsAFailedStream) {
  char path[] = "/tmp/kestrova-entry-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  setenv("KESTROVA_CONF", path, 1);

  std::ofstream(path) << "domain: example.test\n";
  vesk::Props(true);
  std::ostringstream out;
  EXPECT_TRUE(checkJoined(nullptr, out));
  EXPECT_EQ(out.str(), "");

  std::ofstream(path) << "domain:\n";
  vesk::Props(true);
  EXPECT_FALSE(checkJoined(nullptr, out));
  EXPECT_EQ(out.str(), "Machine is not joined to any domain.\n");

  std::ostringstream failed;
  failed.setstate(std::ios::failbit);
  EXPECT_FALSE(checkJoined(nullptr, failed));
  failed.clear();
  EXPECT_EQ(failed.str(), "");

  unsetenv("KESTROVA_CONF");
  vesk::Props(true);
  unlink(path);
}

}  // namespace
