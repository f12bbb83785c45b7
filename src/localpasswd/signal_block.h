// Holds back the signals that would interrupt a rewrite of an account file, for its lifetime.
#pragma once

#include <signal.h>

class SignalBlock {
 public:
  SignalBlock() {
    sigset_t blocked;
    sigemptyset(&blocked);
    for (int signo : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGTSTP, SIGTTIN, SIGTTOU, SIGPIPE, SIGXFSZ}) {
      sigaddset(&blocked, signo);
    }
    active_ = sigprocmask(SIG_BLOCK, &blocked, &previous_) == 0;
  }
  SignalBlock(const SignalBlock&) = delete;
  SignalBlock& operator=(const SignalBlock&) = delete;
  ~SignalBlock() {
    if (active_) sigprocmask(SIG_SETMASK, &previous_, nullptr);
  }
  // False when the mask could not be changed.
  bool active() const { return active_; }

 private:
  sigset_t previous_;
  bool active_ = false;
};
