#include "terminal_prompt.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <array>

#include "fd_io.h"
#include "unique_fd.h"
#include "shredder.h"

namespace {

char lineBuffer[kMaxPasswordLine + 1];

// State shared with the signal handlers: the descriptor whose mode was changed and its old mode.
volatile sig_atomic_t echoFd = -1;
struct termios savedMode;
struct termios quietMode;

constexpr std::array<int, 3> kGuardedSignals = {SIGINT, SIGTERM, SIGTSTP};

void onSignal(int signo) {
  const int saved = errno;
  if (echoFd >= 0) tcsetattr(echoFd, TCSAFLUSH, &savedMode);
  struct sigaction fallback = {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signo, &fallback, nullptr);
  sigset_t unblock;
  sigemptyset(&unblock);
  sigaddset(&unblock, signo);
  sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
  raise(signo);
  // Only SIGTSTP comes back here, after SIGCONT: hide the input again and keep waiting.
  struct sigaction again = {};
  again.sa_handler = onSignal;
  sigemptyset(&again.sa_mask);
  sigaction(signo, &again, nullptr);
  if (echoFd >= 0) tcsetattr(echoFd, TCSAFLUSH, &quietMode);
  errno = saved;
}

// Turns echo off on fd for its lifetime and restores the old mode and signal handlers after.
class EchoOffGuard {
 public:
  explicit EchoOffGuard(int fd) {
    if (tcgetattr(fd, &savedMode) != 0) return;
    quietMode = savedMode;
    quietMode.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL);
    quietMode.c_lflag |= ICANON;
    struct sigaction handler = {};
    handler.sa_handler = onSignal;
    sigemptyset(&handler.sa_mask);
    for (std::size_t i = 0; i < kGuardedSignals.size(); ++i) sigaction(kGuardedSignals[i], &handler, &oldActions_[i]);
    echoFd = fd;
    if (tcsetattr(fd, TCSAFLUSH, &quietMode) != 0) {
      restore();
      return;
    }
    active_ = true;
  }
  EchoOffGuard(const EchoOffGuard&) = delete;
  EchoOffGuard& operator=(const EchoOffGuard&) = delete;
  ~EchoOffGuard() { restore(); }
  bool active() const { return active_; }

 private:
  void restore() {
    if (echoFd >= 0) {
      tcsetattr(echoFd, TCSAFLUSH, &savedMode);
      echoFd = -1;
      for (std::size_t i = 0; i < kGuardedSignals.size(); ++i) sigaction(kGuardedSignals[i], &oldActions_[i], nullptr);
    }
    active_ = false;
  }

  std::array<struct sigaction, kGuardedSignals.size()> oldActions_ = {};
  bool active_ = false;
};


// Reads one line byte by byte, so that nothing after the line end is consumed. Returns the length,
// or -1 at end of input before any byte, on error, or when the line does not fit.
ssize_t readLine(int fd) {
  std::size_t length = 0;
  bool overflow = false;
  for (;;) {
    char c;
    const ssize_t n = read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) {
      if (length == 0 && !overflow) return -1;
      break;
    }
    if (c == '\n') break;
    if (length < kMaxPasswordLine) {
      lineBuffer[length++] = c;
    } else {
      overflow = true;
    }
  }
  if (overflow) {
    vesk::wipeMemory(lineBuffer, sizeof lineBuffer);
    errno = E2BIG;
    return -1;
  }
  if (length > 0 && lineBuffer[length - 1] == '\r') --length;
  lineBuffer[length] = '\0';
  return static_cast<ssize_t>(length);
}

}  // namespace

char* trell_getpass(const char* prompt) {
  vesk::wipeMemory(lineBuffer, sizeof lineBuffer);
  if (!isatty(STDIN_FILENO)) {
    if (prompt != nullptr) vesk::writeAll(STDERR_FILENO, prompt, strlen(prompt));
    return readLine(STDIN_FILENO) < 0 ? nullptr : lineBuffer;
  }

  const vesk::UniqueFd tty(open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
  const int inFd = STDIN_FILENO;
  const int outFd = tty.get() >= 0 ? tty.get() : STDERR_FILENO;
  EchoOffGuard quiet(inFd);
  if (prompt != nullptr) vesk::writeAll(outFd, prompt, strlen(prompt));
  const ssize_t length = readLine(inFd);
  vesk::writeAll(outFd, "\n", 1);
  return length < 0 ? nullptr : lineBuffer;
}

bool promptSecret(const char* prompt, vesk::Shredder& out) {
  char* typed = trell_getpass(prompt);
  if (typed == nullptr) return false;
  out = vesk::Shredder(typed);
  vesk::wipeMemory(typed, strlen(typed));
  return true;
}
