// Runs a program and prints its wall time in nanoseconds and its peak resident memory in bytes.
// A small parent, so that the child's peak is its own and not that of a large forking process.
//
// Usage: accountdb_measure [--stdin TEXT] PROGRAM ARGS...
// Prints "NANOSECONDS PEAK_BYTES EXIT_STATUS".
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

extern char** environ;

int main(int argc, char** argv) {
  int first = 1;
  std::string input;
  bool withInput = false;
  if (argc > 2 && std::strcmp(argv[1], "--stdin") == 0) {
    input = argv[2];
    withInput = true;
    first = 3;
  }
  if (first >= argc) {
    std::fprintf(stderr, "usage: %s [--stdin TEXT] PROGRAM ARGS...\n", argv[0]);
    return 1;
  }
  int pipeFds[2] = {-1, -1};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (withInput) {
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return 1;
    posix_spawn_file_actions_adddup2(&actions, pipeFds[0], 0);
  } else {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  }
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  timespec start, end;
  clock_gettime(CLOCK_MONOTONIC, &start);
  pid_t pid;
  if (posix_spawn(&pid, argv[first], &actions, nullptr, argv + first, environ) != 0) {
    std::perror(argv[first]);
    return 1;
  }
  if (withInput) {
    close(pipeFds[0]);
    const ssize_t written = write(pipeFds[1], input.data(), input.size());
    close(pipeFds[1]);
    if (written != static_cast<ssize_t>(input.size())) return 1;
  }
  int status = 0;
  rusage usage;
  if (wait4(pid, &status, 0, &usage) != pid) return 1;
  clock_gettime(CLOCK_MONOTONIC, &end);
  const long long nanos = (end.tv_sec - start.tv_sec) * 1000000000LL + (end.tv_nsec - start.tv_nsec);
  std::printf("%lld %ld %d\n", nanos, usage.ru_maxrss * 1024L, WIFEXITED(status) ? WEXITSTATUS(status) : 128);
  posix_spawn_file_actions_destroy(&actions);
  return 0;
}
