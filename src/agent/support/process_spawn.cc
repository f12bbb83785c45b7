#include "process_spawn.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "unique_fd.h"

extern char** environ;

namespace {

class SpawnAttributes {
 public:
  SpawnAttributes() { ok_ = posix_spawnattr_init(&attr_) == 0; }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  ~SpawnAttributes() {
    if (ok_) posix_spawnattr_destroy(&attr_);
  }
  bool ok() const { return ok_; }
  posix_spawnattr_t* get() { return &attr_; }

 private:
  posix_spawnattr_t attr_;
  bool ok_ = false;
};

class FileActions {
 public:
  FileActions() { ok_ = posix_spawn_file_actions_init(&actions_) == 0; }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;
  ~FileActions() {
    if (ok_) posix_spawn_file_actions_destroy(&actions_);
  }
  bool ok() const { return ok_; }
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
  bool ok_ = false;
};

}  // namespace

int spawnfv(int flags, int count, const int fds[], const char* path, const char* const argv[]) {
  return spawnfve(flags, count, fds, path, argv, environ);
}

int spawnfve(int flags, int count, const int fds[], const char* path, const char* const argv[],
             const char* const envp[]) {
  if (flags != 0 || count != 3 || fds == nullptr || path == nullptr || argv == nullptr || envp == nullptr) {
    errno = EINVAL;
    return -1;
  }
  SpawnAttributes attr;
  FileActions actions;
  if (!attr.ok() || !actions.ok()) {
    errno = ENOMEM;
    return -1;
  }
  sigset_t none;
  sigset_t all;
  sigemptyset(&none);
  sigfillset(&all);
  int rc = posix_spawnattr_setsigmask(attr.get(), &none);
  if (rc == 0) rc = posix_spawnattr_setsigdefault(attr.get(), &all);
  if (rc == 0) rc = posix_spawnattr_setflags(attr.get(), POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  // Copies of the three descriptors at the lowest free numbers from 3 up: dup2 from them onto
  // 0..2 cannot clobber one that is still to be copied, whatever numbers the caller passed and
  // however low the descriptor limit is. Then everything from 3 up is closed in the child.
  vesk::UniqueFd copies[3];
  for (int i = 0; i < 3; ++i) {
    copies[i].reset(fcntl(fds[i], F_DUPFD_CLOEXEC, 3));
    if (!copies[i].valid()) return -1;
  }
  for (int i = 0; rc == 0 && i < 3; ++i) rc = posix_spawn_file_actions_adddup2(actions.get(), copies[i].get(), i);
  if (rc == 0) rc = posix_spawn_file_actions_addclosefrom_np(actions.get(), 3);
  if (rc != 0) {
    errno = rc;
    return -1;
  }
  pid_t pid = -1;
  rc = posix_spawn(&pid, path, actions.get(), attr.get(), const_cast<char* const*>(argv),
                   const_cast<char* const*>(envp));
  if (rc != 0) {
    errno = rc;
    return -1;
  }
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &status, 0);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}
