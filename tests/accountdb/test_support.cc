#include "test_support.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "db_file.h"
#include "db_operator.h"
#include "db_records.h"
#include "logger.h"
#include "system_lock.h"

namespace vesk::test {

TempDir::TempDir() {
  char name[] = "/tmp/kestrova-accountdb-XXXXXX";
  if (mkdtemp(name) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = name;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> TempDir::list() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path_)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

void writeFile(const std::string& path, const std::string& content, mode_t mode) {
  // A fresh file: an earlier one may have lost its write permission, which only root ignores.
  if (unlink(path.c_str()) != 0 && errno != ENOENT) throw std::runtime_error("cannot remove " + path);
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out.flush()) throw std::runtime_error("cannot write " + path);
  }
  if (chmod(path.c_str(), mode) != 0) throw std::runtime_error("cannot chmod " + path);
}

bool exists(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0;
}

// Records are kept in memory only; a marker record on another logger tells where "since" begins.
LogCapture::LogCapture() {
  for (const char* name : {"cli.passwddb", "test.mark"}) {
    Logger::GetLogger(name)->setLevel(5);
    Logger::GetLogger(name)->setMemoryLevel(0);
  }
  clear();
}

void LogCapture::clear() {
  static unsigned serial = 0;
  marker_ = "mark " + std::to_string(getpid()) + " " + std::to_string(++serial);
  Logger::GetLogger("test.mark")->log(vesk::LogLevel::kProgress, "%s", marker_.c_str());
}

std::vector<std::string> LogCapture::records() const {
  const std::vector<std::string> all = Logger::recentRecords();
  const std::string prefix = "cli.passwddb ";
  std::vector<std::string> mine;
  for (auto it = std::find(all.rbegin(), all.rend(), "test.mark 0: " + marker_).base(); it != all.end(); ++it) {
    if (it->rfind(prefix, 0) == 0) mine.push_back(it->substr(prefix.size()));
  }
  return mine;
}

bool LogCapture::has(const std::string& levelAndMessage) const {
  const auto mine = records();
  return std::find(mine.begin(), mine.end(), levelAndMessage) != mine.end();
}

int FakeSystemLock::lockCalls = 0;
int FakeSystemLock::unlockCalls = 0;
bool FakeSystemLock::failLock = false;

namespace {
SystemLockCalls savedCalls;
}  // namespace

FakeSystemLock::FakeSystemLock() {
  lockCalls = unlockCalls = 0;
  failLock = false;
  savedCalls = setSystemLockCalls({[] { return ++lockCalls, failLock ? -1 : 0; }, [] { return ++unlockCalls, 0; }});
}

FakeSystemLock::~FakeSystemLock() { setSystemLockCalls(savedCalls); }

pid_t startChild(const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  return pid;
}

int waitChild(pid_t pid) {
  int status = 0;
  if (pid <= 0 || waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

pid_t startSleeper() {
  return startChild([] { return sleep(600), 0; });
}

void killChild(pid_t pid) {
  if (pid > 0 && kill(pid, SIGKILL) == 0) waitChild(pid);
}

pid_t deadPid() {
  const pid_t pid = startChild([] { return 0; });
  waitChild(pid);
  return pid;
}

Change changeShadowPassword(const std::string& path, const std::string& name, const std::string& password) {
  DBOperator<DBShadow, DBFile> op(path);
  if (!op.storage.lock()) return Change::LockRefused;
  if (!op.storage.open() || !op.load(op.storage)) return Change::LoadFailed;
  DBShadow record = op.find(name);
  if (record.isEmpty()) return Change::NoRecord;
  record.password = password;
  if (!op.update(record)) return Change::UpdateFailed;
  return op.commit() ? Change::Committed : Change::CommitFailed;
}

ProgramResult runProgram(const std::vector<std::string>& argv) {
  int pipeFds[2];
  if (argv.empty() || pipe2(pipeFds, O_CLOEXEC) != 0) return {-1, ""};
  const pid_t pid = startChild([&] {
    dup2(pipeFds[1], 1);
    dup2(pipeFds[1], 2);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    return 127;
  });
  close(pipeFds[1]);
  std::string output;
  char buffer[4096];
  for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) output.append(buffer, std::size_t(n));
  close(pipeFds[0]);
  return {waitChild(pid), output};
}

bool enterPrivateMountNamespace() {
  return geteuid() == 0 && unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

bool mountTmpfs(const std::string& target, const std::string& size) {
  return mount("tmpfs", target.c_str(), "tmpfs", 0, ("size=" + size + ",mode=0755").c_str()) == 0;
}

bool bindMount(const std::string& source, const std::string& target, bool readOnly) {
  if (mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0) return false;
  return !readOnly || mount(nullptr, target.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

bool unmount(const std::string& target) { return umount2(target.c_str(), MNT_DETACH) == 0; }

bool overlayEtcWithCopy(const std::string& copy) {
  return runProgram({"/bin/cp", "-a", "/etc", copy}).status == 0 && bindMount(copy, "/etc");
}

}  // namespace vesk::test
