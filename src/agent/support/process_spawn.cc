#include "process_spawn.h"

#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

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
  if (flags != 0 || count != 3 || fds == nullptr || path == nullptr || argv == nullptr) {
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
  // Move the three descriptors out of the way first, so that dup2 onto 0..2 cannot clobber one
  // that is still to be copied; then close everything from 3 up.
  constexpr int kParking = 1000;
  for (int i = 0; rc == 0 && i < 3; ++i) rc = posix_spawn_file_actions_adddup2(actions.get(), fds[i], kParking + i);
  for (int i = 0; rc == 0 && i < 3; ++i) rc = posix_spawn_file_actions_adddup2(actions.get(), kParking + i, i);
  if (rc == 0) rc = posix_spawn_file_actions_addclosefrom_np(actions.get(), 3);
  if (rc != 0) {
    errno = rc;
    return -1;
  }
  pid_t pid = -1;
  rc = posix_spawn(&pid, path, actions.get(), attr.get(), const_cast<char* const*>(argv), environ);
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
