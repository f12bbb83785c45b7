// Spawning under a low descriptor limit, with the caller's descriptors in any order.
#include "process_spawn.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace {

TEST(SpawnTest, WorksUnderALowDescriptorLimitWithDescriptorsInAnyOrder) {
  const pid_t pid = fork();
  if (pid == 0) {
    const struct rlimit limit = {16, 16};
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) _exit(10);
    int pipeFds[2];
    if (pipe(pipeFds) != 0 || dup2(pipeFds[1], 0) != 0) _exit(11);
    const int fds[3] = {2, 0, 1};  // the child's output goes to our 0, the write end of the pipe
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

}  // namespace
