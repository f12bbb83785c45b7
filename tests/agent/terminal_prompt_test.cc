// trell_getpass through a real pseudo-terminal: the test is the terminal's other end.
#include "terminal_prompt.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>

namespace {

constexpr const char* kPrompt = "Secret please: ";

// Reads from fd until text has been seen or two seconds have passed; returns what was read.
std::string readUntil(int fd, const std::string& text) {
  std::string seen;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (seen.find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    struct pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char buf[256];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    seen.append(buf, static_cast<std::size_t>(n));
  }
  return seen;
}

bool echoOn(int master) {
  struct termios mode;
  return tcgetattr(master, &mode) == 0 && (mode.c_lflag & ECHO) != 0;
}

// Starts a child on a new pseudo-terminal that prompts once and reports through a pipe:
// "L<text>" for a line, "N" for null.
struct PromptChild {
  pid_t pid = -1;
  int master = -1;
  int report = -1;
};

PromptChild startPromptChild() {
  PromptChild child;
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return child;
  child.pid = forkpty(&child.master, nullptr, nullptr, nullptr);
  if (child.pid == 0) {
    close(pipeFds[0]);
    char* line = trell_getpass(kPrompt);
    std::string message = line == nullptr ? "N" : std::string("L") + line;
    if (write(pipeFds[1], message.data(), message.size()) < 0) _exit(2);
    _exit(0);
  }
  close(pipeFds[1]);
  child.report = pipeFds[0];
  return child;
}

std::string finish(PromptChild& child) {
  std::string report = readUntil(child.report, "\x01never");
  int status = 0;
  waitpid(child.pid, &status, 0);
  close(child.report);
  close(child.master);
  return report;
}

TEST(TerminalPromptTest, ReadsOneLineWithEchoOffAndRestoresTheMode) {
  // A line, and end of input (VEOF on an empty line).
  for (const auto& [typed, reported] : {std::pair<std::string, std::string>{"s3cr et\n", "Ls3cr et"}, {"\x04", "N"}}) {
    PromptChild child = startPromptChild();
    ASSERT_GT(child.pid, 0);
    ASSERT_NE(readUntil(child.master, kPrompt).find(kPrompt), std::string::npos);
    EXPECT_FALSE(echoOn(child.master)) << "echo must be off while the password is typed";
    ASSERT_EQ(write(child.master, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
    EXPECT_EQ(readUntil(child.master, "\n").find("s3cr"), std::string::npos) << "the password was echoed";
    const int master = dup(child.master);
    EXPECT_EQ(finish(child), reported);
    EXPECT_TRUE(echoOn(master));
    close(master);
  }
}

TEST(TerminalPromptTest, RestoresTheModeWhenASignalEndsTheRead) {
  const struct rlimit noCore = {0, 0};
  ASSERT_EQ(setrlimit(RLIMIT_CORE, &noCore), 0);
  for (int signo : {SIGINT, SIGTERM, SIGQUIT, SIGHUP, SIGALRM, SIGUSR1, SIGPIPE, SIGXCPU}) {
    PromptChild child = startPromptChild();
    ASSERT_GT(child.pid, 0);
    readUntil(child.master, kPrompt);
    ASSERT_FALSE(echoOn(child.master));
    kill(child.pid, signo);
    int status = 0;
    ASSERT_EQ(waitpid(child.pid, &status, 0), child.pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signo);
    EXPECT_TRUE(echoOn(child.master)) << "signal " << signo;
    close(child.report);
    close(child.master);
  }
}

}  // namespace
