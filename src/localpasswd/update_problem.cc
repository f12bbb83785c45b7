#include "update_problem.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include "unique_fd.h"

namespace {

using Step = vesk::DBFileProblem::Step;

// The command name of process pid, or an empty text when it cannot be read.
std::string commandOf(long pid) {
  const std::string name = std::string(kProcPath) + "/" + std::to_string(pid) + "/comm";
  vesk::UniqueFd fd(::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!fd.valid()) return std::string();
  char text[64];
  ssize_t n;
  do {
    n = ::read(fd.get(), text, sizeof text - 1);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) return std::string();
  std::string command(text, static_cast<std::size_t>(n));
  while (!command.empty() && command.back() == '\n') command.pop_back();
  // Only printable text reaches the terminal: a process may name itself anything.
  for (char& c : command) {
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) c = '?';
  }
  return command;
}

}  // namespace

std::string describeUpdateProblem(const vesk::DBFileProblem& problem, const std::string& path) {
  switch (problem.step) {
    case Step::kNone:
    case Step::kLock:
      return std::string();
    case Step::kSystemLock:
      return "the password files are locked by another program; try again later";
    case Step::kLockBusy: {
      const std::string command = commandOf(problem.holder);
      return path + " is locked by process " + std::to_string(problem.holder) +
             (command.empty() ? std::string() : " (" + command + ")") + "; try again later";
    }
    case Step::kLockInvalid:
      return "the lock file " + path + ".lock holds no process ID; if no program is changing " + path +
             ", remove " + path + ".lock";
    case Step::kBackup:
      return "backup " + path + "- not made: " + vesk::db::describe(problem.failure);
    case Step::kTemporary:
    case Step::kRename:
      return path + " not replaced: " + vesk::db::describe(problem.failure);
    case Step::kDirectorySync:
      return "warning: the new password is in force, but " + vesk::db::describe(problem.failure) +
             "; a crash may bring back the old one";
  }
  return std::string();
}
