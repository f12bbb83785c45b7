#include "db_file.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "db_log.h"
#include "fd_io.h"
#include "system_lock.h"

namespace vesk {
namespace {

// Removes a file when it goes out of scope; failures are of no consequence here.
class RemoveOnExit {
 public:
  explicit RemoveOnExit(const std::string& name) : name_(name) {}
  RemoveOnExit(const RemoveOnExit&) = delete;
  RemoveOnExit& operator=(const RemoveOnExit&) = delete;
  ~RemoveOnExit() { ::unlink(name_.c_str()); }

 private:
  const std::string& name_;
};

bool hasTwoLinks(const std::string& name) {
  struct stat status;
  return ::stat(name.c_str(), &status) == 0 && status.st_nlink == 2;
}

bool writeLockOwner(int fd) {
  char text[32];
  const int length = std::snprintf(text, sizeof text, "%ld", static_cast<long>(::getpid()));
  return writeAll(fd, text, static_cast<std::size_t>(length) + 1);  // with its NUL byte
}

}  // namespace

DBFile::DBFile(const char* path) : DBStorage(path) { readOnly = false; }

DBFile::~DBFile() {
  close();
  unlock();
}

bool DBFile::isFile() const { return true; }

void DBFile::setReadOnly(bool value) {
  DBStorage::setReadOnly(value);
  openMode = value ? OpenMode::Input : OpenMode::InputOutput;
}

int DBFile::lockedFileCount() { return processSystemLock().levels(); }

bool DBFile::lock() {
  problem_ = DBFileProblem{};
  if (!systemLock.acquire()) {
    db::logger().log(db::kSystemFailure, "lckpwdf() failed.");
    problem_.step = DBFileProblem::Step::kSystemLock;
    return false;
  }
  problem_.step = DBFileProblem::Step::kLock;
  if (!lockFile()) {
    db::logger().log(db::kFailure, "cannot lock file %s.", path.c_str());
    if (problem_.step == DBFileProblem::Step::kLockBusy) {
      db::logger().log(db::kFailure, "lock file %s.lock is held by process %ld.", path.c_str(), problem_.holder);
    } else if (problem_.step == DBFileProblem::Step::kLockInvalid) {
      db::logger().log(db::kFailure, "lock file %s.lock holds no process id.", path.c_str());
    }
    if (!locked) systemLock.release();
    return false;
  }
  return true;
}

bool DBFile::lockFile() {
  const std::string linkName = path + "." + std::to_string(static_cast<long>(::getpid()));
  const std::string lockName = path + ".lock";
  {
    UniqueFd link(::open(linkName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!link.valid()) return false;
    if (!writeLockOwner(link.get()) || !link.close()) {
      ::unlink(linkName.c_str());
      return false;
    }
  }
  RemoveOnExit removeLink(linkName);
  bool taken = false;
  if (::link(linkName.c_str(), lockName.c_str()) == 0) {
    taken = hasTwoLinks(linkName);
  } else {
    char content[32];
    ssize_t count;
    {
      UniqueFd lockFd(::open(lockName.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
      if (!lockFd.valid()) return false;
      do {
        count = ::read(lockFd.get(), content, sizeof content - 1);
      } while (count < 0 && errno == EINTR);
    }
    if (count < 0) return false;
    content[count] = '\0';
    // A number of 0 or less would make kill probe a process group (or every process).
    const int owner = count > 0 ? static_cast<int>(std::strtol(content, nullptr, 10)) : 0;
    if (owner <= 0) {
      problem_.step = DBFileProblem::Step::kLockInvalid;
      return false;
    }
    // EPERM means the process exists under another user: it is alive as well.
    if (::kill(owner, 0) == 0 || errno == EPERM) {
      problem_.step = DBFileProblem::Step::kLockBusy;
      problem_.holder = owner;
      return false;
    }
    if (::unlink(lockName.c_str()) != 0) return false;
    if (::link(linkName.c_str(), lockName.c_str()) != 0) return false;
    taken = hasTwoLinks(linkName);
  }
  if (!taken) return false;
  problem_ = DBFileProblem{};
  db::logger().log(db::kProgress, "file %s is locked.", path.c_str());
  locked = true;
  return true;
}

void DBFile::unlock() {
  if (!locked) return;
  locked = false;
  db::logger().log(db::kProgress, "file %s is unlocked.", path.c_str());
  ::unlink((path + ".lock").c_str());
  systemLock.release();
  if (processSystemLock().levels() == 0) db::logger().log(db::kProgress, "all files are unlocked.");
}

bool DBFile::open(const char* newPath) {
  path = newPath != nullptr ? newPath : "";
  return open();
}

bool DBFile::open() {
  if (path.empty()) return false;
  if (opened) close();
  if (!readOnly && !locked) return false;
  const int flags = (openMode == OpenMode::Input ? O_RDONLY : O_RDWR) | O_CLOEXEC | O_NOCTTY;
  UniqueFd fd(::open(path.c_str(), flags));
  db::IoFailure failure;
  if (!fd.valid()) {
    failure.set("open", path, errno);
  } else {
    text = DBText::readAll(fd.get());
    if (!text) failure.set("read", path, errno);
  }
  if (!text) {
    db::logger().log(db::kFailure, "cannot open file %s.", path.c_str());
    db::logFailure(failure);
    return false;
  }
  stream = std::move(fd);
  db::logger().log(db::kProgress, "file %s is opened.", path.c_str());
  opened = true;
  first();
  return true;
}

void DBFile::close() {
  setEndOfData();
  opened = false;
  stream.close();
  text.reset();
  recordOffset = 0;
  nextOffset = 0;
}

bool DBFile::first() {
  nextOffset = 0;
  return next();
}

bool DBFile::next() {
  if (!text || nextOffset >= text->size()) {
    if (text) recordOffset = nextOffset = text->size();
    setEndOfData();
    return false;
  }
  const std::string_view all = text->view();
  const std::size_t end = all.find('\n', nextOffset);
  const std::size_t lineEnd = end == std::string_view::npos ? all.size() : end;
  recordOffset = nextOffset;
  setRecord(all.substr(recordOffset, lineEnd - recordOffset));
  nextOffset = end == std::string_view::npos ? all.size() : end + 1;
  return true;
}

DBTextRest DBFile::takeRest() {
  DBTextRest rest;
  rest.text = text;
  rest.offset = text && current ? recordOffset : (text ? text->size() : 0);
  if (text) recordOffset = nextOffset = text->size();
  setEndOfData();
  return rest;
}

}  // namespace vesk
