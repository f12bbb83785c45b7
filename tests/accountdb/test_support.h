// Helpers of the account file database tests: temporary directories, file contents, captured log
// records, a fake system lock, child processes and private mount namespaces.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace vesk::test {

// A fresh directory under /tmp, removed with everything in it at destruction.
class TempDir {
 public:
  TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  std::vector<std::string> list() const;  // names of the entries, sorted

 private:
  std::string path_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content, mode_t mode = 0644);
bool exists(const std::string& path);

// The records of "cli.passwddb" since construction or the last clear(), as "LEVEL: message".
class LogCapture {
 public:
  LogCapture();
  std::vector<std::string> records() const;
  bool has(const std::string& levelAndMessage) const;
  void clear();

 private:
  std::string marker_;
};

// Replaces lckpwdf and ulckpwdf by counters for the lifetime of the object.
class FakeSystemLock {
 public:
  FakeSystemLock();
  ~FakeSystemLock();
  static int lockCalls;
  static int unlockCalls;
  static bool failLock;
};

// The fixture of most library tests: a fresh directory, the fake system lock and the log.
class DBTest : public ::testing::Test {
 protected:
  TempDir dir_;
  FakeSystemLock systemLock_;
  LogCapture log_;
};

// A forked child that exits with body's result; waitChild returns that status, or 128 + signal.
pid_t startChild(const std::function<int()>& body);
int waitChild(pid_t pid);
inline int runInChild(const std::function<int()>& body) { return waitChild(startChild(body)); }
pid_t startSleeper();  // a child that sleeps until killChild ends it
void killChild(pid_t pid);
pid_t deadPid();  // a process id that no process has

// One writer's change of a shadow file: lock, open, load, update, commit; the first step that failed.
enum class Change { Committed, LockRefused, LoadFailed, NoRecord, UpdateFailed, CommitFailed };
Change changeShadowPassword(const std::string& path, const std::string& name, const std::string& password);

// Runs argv[0] (a path); its exit status and what it wrote to standard output and error.
struct ProgramResult {
  int status;
  std::string output;
};
ProgramResult runProgram(const std::vector<std::string>& argv);

bool enterPrivateMountNamespace();  // false when not permitted (not root)
bool mountTmpfs(const std::string& target, const std::string& size);
bool bindMount(const std::string& source, const std::string& target, bool readOnly = false);
bool unmount(const std::string& target);
bool overlayEtcWithCopy(const std::string& copy);  // copies /etc there and mounts it over /etc

}  // namespace vesk::test
