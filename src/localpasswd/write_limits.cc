#include "write_limits.h"

#include <errno.h>
#include <sys/resource.h>

#include <initializer_list>

namespace {

// Raises resource to at least want (soft and hard). Where the hard limit may not be raised (the
// process lacks CAP_SYS_RESOURCE, as in many containers), the soft limit goes up to the hard one.
bool raiseTo(int resource, rlim_t want) {
  struct rlimit current;
  if (getrlimit(resource, &current) != 0) return false;
  if (current.rlim_cur >= want) return true;
  struct rlimit raised = {want, current.rlim_max >= want ? current.rlim_max : want};
  if (setrlimit(resource, &raised) == 0) return true;
  if (errno != EPERM) return false;
  raised = {current.rlim_max, current.rlim_max};
  return setrlimit(resource, &raised) == 0;
}

}  // namespace

bool raiseWriteLimits() {
  if (!raiseTo(RLIMIT_FSIZE, RLIM_INFINITY) || !raiseTo(RLIMIT_CPU, RLIM_INFINITY)) return false;
  const struct rlimit noCore = {0, 0};
  if (setrlimit(RLIMIT_CORE, &noCore) != 0) return false;
  if (!raiseTo(RLIMIT_NOFILE, kMinDescriptors)) return false;
  // A file size limit that stays makes a write fail with EFBIG, reported as a failed write,
  // instead of ending the process half-way.
  struct rlimit size;
  if (getrlimit(RLIMIT_FSIZE, &size) != 0) return false;
  if (size.rlim_cur != RLIM_INFINITY && signal(SIGXFSZ, SIG_IGN) == SIG_ERR) return false;
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
