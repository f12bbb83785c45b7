// Resource limits and signals around the privileged write of the passwd personality.
#pragma once

#include <signal.h>

// Raises the caller's resource limits that would break a rewrite of an account file, as the
// process may while it is privileged: no file size or processor time limit (a limit met in the
// middle of a write would end the process with SIGXFSZ or SIGXCPU), no core file, and at least
// kMinDescriptors descriptors. The memory limits are kept. Without the privilege to raise a hard
// limit (CAP_SYS_RESOURCE) the soft limits go up to the hard ones, and a file size limit that
// remains has SIGXFSZ ignored, so that a write beyond it fails and is reported. False (errno
// set) when a limit cannot be changed at all.
bool raiseWriteLimits();

inline constexpr unsigned long kMinDescriptors = 1024;

// Holds back, for its lifetime, every signal that the caller can send to end or stop the
// process (terminal, timer, user and resource signals), so that a rewrite of an account file
// and the message that reports it are not cut short. The previous mask comes back at the end;
// signals that arrived meanwhile are delivered then.
class SignalBlock {
 public:
  SignalBlock();
  SignalBlock(const SignalBlock&) = delete;
  SignalBlock& operator=(const SignalBlock&) = delete;
  ~SignalBlock();
  // False when the mask could not be changed.
  bool active() const { return active_; }

 private:
  sigset_t previous_;
  bool active_ = false;
};
