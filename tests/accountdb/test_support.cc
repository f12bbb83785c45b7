#include "test_support.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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
  nftw(
      path_.c_str(),
      [](const char* name, const struct stat*, int, struct FTW*) {
        ::remove(name);
        return 0;
      }, 16,
      FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
}

std::vector<std::string> TempDir::list() const {
  std::vector<std::string> names;
  DIR* dir = opendir(path_.c_str());
  if (dir == nullptr) return names;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
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

namespace {

const std::string kPrefix = "cli.passwddb ";

}  // namespace

LogCapture::LogCapture() {
  auto logger = Logger::GetLogger("cli.passwddb");
  logger->setLevel(5);  // nothing to syslog or a file
  logger->setMemoryLevel(0);
  auto markLogger = Logger::GetLogger("test.mark");
  markLogger->setLevel(5);
  markLogger->setMemoryLevel(0);
  clear();
}

LogCapture::~LogCapture() = default;

void LogCapture::clear() {
  static unsigned serial = 0;
  marker_ = "mark " + std::to_string(getpid()) + " " + std::to_string(++serial);
  Logger::GetLogger("test.mark")->log(0, "%s", marker_.c_str());
}

std::vector<std::string> LogCapture::records() const {
  const std::vector<std::string> all = Logger::recentRecords();
  std::vector<std::string> mine;
  const std::string markRecord = "test.mark 0: " + marker_;
  auto start = std::find(all.rbegin(), all.rend(), markRecord).base();  // just after the last marker
  for (auto it = start; it != all.end(); ++it) {
    if (it->compare(0, kPrefix.size(), kPrefix) == 0) mine.push_back(it->substr(kPrefix.size()));
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

int fakeLock() {
  ++FakeSystemLock::lockCalls;
  return FakeSystemLock::failLock ? -1 : 0;
}

int fakeUnlock() {
  ++FakeSystemLock::unlockCalls;
  return 0;
}

}  // namespace

FakeSystemLock::FakeSystemLock() {
  lockCalls = 0;
  unlockCalls = 0;
  failLock = false;
  savedCalls = setSystemLockCalls({&fakeLock, &fakeUnlock});
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

int runInChild(const std::function<int()>& body) { return waitChild(startChild(body)); }

pid_t startSleeper() {
  return startChild([] {
    for (int i = 0; i < 600; ++i) sleep(1);  // bounded: ten minutes at most
    return 0;
  });
}

void killChild(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGKILL);
  waitChild(pid);
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
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(pipeFds[1], 1);
    dup2(pipeFds[1], 2);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(pipeFds[1]);
  std::string output;
  char buffer[4096];
  ssize_t n;
  while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) output.append(buffer, static_cast<std::size_t>(n));
  close(pipeFds[0]);
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return {-1, output};
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), output};
}

bool enterPrivateMountNamespace() {
  if (geteuid() != 0) return false;
  if (unshare(CLONE_NEWNS) != 0) return false;
  return mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

bool mountTmpfs(const std::string& target, const std::string& size) {
  const std::string options = "size=" + size + ",mode=0755";
  return mount("tmpfs", target.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

bool bindMount(const std::string& source, const std::string& target, bool readOnly) {
  if (mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0) return false;
  if (!readOnly) return true;
  return mount(nullptr, target.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

bool unmount(const std::string& target) { return umount2(target.c_str(), MNT_DETACH) == 0; }

bool overlayEtcWithCopy(const std::string& copy) {
  return runProgram({"/bin/cp", "-a", "/etc", copy}).status == 0 && bindMount(copy, "/etc");
}

}  // namespace vesk::test
