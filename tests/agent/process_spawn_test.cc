#include "process_spawn.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string readAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(SpawnTest, RunsWithExactlyTheGivenDescriptorsAndReturnsTheStatus) {
  char path[] = "/tmp/kestrova-spawn-XXXXXX";
  const int out = mkstemp(path);
  ASSERT_GE(out, 0);
  const int devnull = open("/dev/null", O_RDWR);
  ASSERT_GE(devnull, 0);
  const int leak = open("/dev/null", O_RDONLY);  // not close-on-exec: must not reach the child
  ASSERT_GE(leak, 0);
  const int fds[3] = {devnull, out, devnull};
  const char* const argv[] = {"/bin/sh", "-c", "ls /proc/self/fd; echo 'arg; $(id)'; exit 3", nullptr};
  EXPECT_EQ(spawnfv(0, 3, fds, "/bin/sh", argv), 3);
  const std::string text = readAll(path);
  // 0, 1 and 2, and 3 for the directory ls opens to list them; nothing else.
  EXPECT_EQ(text.substr(0, 8), "0\n1\n2\n3\n");
  EXPECT_EQ(text.substr(8, 11), "arg; $(id)\n");
  close(leak);
  close(devnull);
  close(out);
  unlink(path);
}

TEST(SpawnTest, ReportsSignalsAndMissingPrograms) {
  const int fds[3] = {0, 1, 2};
  const char* const kill[] = {"/bin/sh", "-c", "kill -TERM $$", nullptr};
  EXPECT_EQ(spawnfv(0, 3, fds, "/bin/sh", kill), 128 + SIGTERM);
  const char* const none[] = {"/nonexistent/program", nullptr};
  EXPECT_EQ(spawnfv(0, 3, fds, "/nonexistent/program", none), -1);
  EXPECT_EQ(spawnfv(1, 3, fds, "/bin/true", none), -1);
}

}  // namespace
