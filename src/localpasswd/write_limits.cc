#include "write_limits.h"

#include <sys/resource.h>

#include <initializer_list>

namespace {

bool setLimit(int resource, rlim_t soft, rlim_t hard) {
  const struct rlimit limit = {soft, hard};
  return setrlimit(resource, &limit) == 0;
}

}  // namespace

bool raiseWriteLimits() {
  if (!setLimit(RLIMIT_FSIZE, RLIM_INFINITY, RLIM_INFINITY)) return false;
  if (!setLimit(RLIMIT_CPU, RLIM_INFINITY, RLIM_INFINITY)) return false;
  if (!setLimit(RLIMIT_CORE, 0, 0)) return false;
  struct rlimit files;
  if (getrlimit(RLIMIT_NOFILE, &files) != 0) return false;
  if (files.rlim_cur < kMinDescriptors) {
    const rlim_t hard = files.rlim_max < kMinDescriptors ? kMinDescriptors : files.rlim_max;
    if (!setLimit(RLIMIT_NOFILE, kMinDescriptors, hard)) return false;
  }
  return true;
}

SignalBlock::SignalBlock() {
  sigset_t blocked;
  sigemptyset(&blocked);
  for (int signo : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGTSTP, SIGTTIN, SIGTTOU, SIGPIPE, SIGALRM, SIGUSR1,
                    SIGUSR2, SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ}) {
    sigaddset(&blocked, signo);
  }
  active_ = sigprocmask(SIG_BLOCK, &blocked, &previous_) == 0;
}

SignalBlock::~SignalBlock() {
  if (active_) sigprocmask(SIG_SETMASK, &previous_, nullptr);
}
