#include "terminal_prompt.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>


#include "fd_io.h"
#include "unique_fd.h"
#include "shredder.h"

namespace {

char lineBuffer[kMaxPasswordLine + 1];

PromptFailure lastFailure = PromptFailure::kNone;

// State shared with the signal handlers: the descriptor whose mode was changed, its old mode, and
// the actions the guarded signals had before.
volatile sig_atomic_t echoFd = -1;
struct termios savedMode;
struct termios quietMode;
struct sigaction previousActions[NSIG];
bool guarded[NSIG];

// Every signal whose default action ends or stops the process and that can be caught; SIGCHLD,
// SIGCONT, SIGURG and SIGWINCH are ignored by default and leave the terminal alone.
bool endsOrStops(int signo) {
  switch (signo) {
    case SIGKILL:
    case SIGSTOP:
    case SIGCHLD:
    case SIGCONT:
    case SIGURG:
    case SIGWINCH:
      return false;
    default:
      return true;
  }
}

// Puts the terminal back, lets the signal act as it would have without the prompt (ending the
// process, stopping it, or the caller's own handler), and when the process goes on (after
// SIGCONT, or a handler that returned) hides the input again.
void onSignal(int signo) {
  const int saved = errno;
  if (echoFd >= 0) tcsetattr(echoFd, TCSAFLUSH, &savedMode);
  struct sigaction ours;
  sigaction(signo, &previousActions[signo], &ours);
  sigset_t unblock;
  sigemptyset(&unblock);
  sigaddset(&unblock, signo);
  sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
  raise(signo);
  sigaction(signo, &ours, nullptr);
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
    for (int signo = 1; signo < NSIG; ++signo) {
      if (endsOrStops(signo)) sigaddset(&handler.sa_mask, signo);
    }
    for (int signo = 1; signo < NSIG; ++signo) {
      guarded[signo] = false;
      // A signal the caller ignores stays ignored; numbers the C library keeps for itself fail.
      if (!endsOrStops(signo) || sigaction(signo, nullptr, &previousActions[signo]) != 0 ||
          previousActions[signo].sa_handler == SIG_IGN) {
        continue;
      }
      guarded[signo] = sigaction(signo, &handler, nullptr) == 0;
    }
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
      for (int signo = 1; signo < NSIG; ++signo) {
        if (guarded[signo]) sigaction(signo, &previousActions[signo], nullptr);
        guarded[signo] = false;
      }
    }
    active_ = false;
  }

  bool active_ = false;
};


// Reads one line byte by byte, so that nothing after the line end is consumed. Returns the length,
// or -1 (lastFailure says why) at end of input before any byte, on error, or for a line that does
// not fit or holds a NUL byte: such a line is read to its end and refused whole, since any part
// of it would be another password than the one typed.
ssize_t readLine(int fd) {
  std::size_t length = 0;
  bool overflow = false;
  bool nul = false;
  for (;;) {
    char c;
    const ssize_t n = read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      lastFailure = PromptFailure::kReadError;
      vesk::wipeMemory(lineBuffer, sizeof lineBuffer);
      return -1;
    }
    if (n == 0) {
      if (length == 0 && !overflow && !nul) {
        lastFailure = PromptFailure::kEndOfInput;
        return -1;
      }
      break;
    }
    if (c == '\n') break;
    if (c == '\0') nul = true;
    if (length < kMaxPasswordLine) {
      lineBuffer[length++] = c;
    } else {
      overflow = true;
    }
  }
  if (overflow || nul) {
    vesk::wipeMemory(lineBuffer, sizeof lineBuffer);
    lastFailure = nul ? PromptFailure::kNulByte : PromptFailure::kLineTooLong;
    errno = nul ? EINVAL : E2BIG;
    return -1;
  }
  if (length > 0 && lineBuffer[length - 1] == '\r') --length;
  lineBuffer[length] = '\0';
  return static_cast<ssize_t>(length);
}

}  // namespace

PromptFailure lastPromptFailure() { return lastFailure; }

char* trell_getpass(const char* prompt) {
  vesk::wipeMemory(lineBuffer, sizeof lineBuffer);
  lastFailure = PromptFailure::kNone;
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
