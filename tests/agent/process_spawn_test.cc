#include "process_spawn.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
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

// A low descriptor limit, and the caller's descriptors in another order than 0, 1, 2.
TEST(SpawnTest, WorksUnderALowDescriptorLimitWithDescriptorsInAnyOrder) {
  const pid_t pid = fork();
  if (pid == 0) {
    const struct rlimit limit = {16, 16};
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) _exit(10);
    int pipeFds[2];
    if (pipe(pipeFds) != 0 || dup2(pipeFds[1], 0) != 0) _exit(11);
    const int fds[3] = {2, 0, 1};  // output of the child goes to our 0, the write end of the pipe
    const char* const argv[] = {"/bin/sh", "-c", "echo swapped", nullptr};
    if (spawnfv(0, 3, fds, "/bin/sh", argv) != 0) _exit(12);
    char text[16] = {};
    if (read(pipeFds[0], text, sizeof text - 1) != 8) _exit(13);
    _exit(std::string(text) == "swapped\n" ? 0 : 14);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
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
