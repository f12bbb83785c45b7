// DBFile's write-back: backup, temporary file, rename.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>

#include "db_file.h"
#include "db_log.h"
#include "file_replace.h"

namespace vesk {
namespace {

// Removes the temporary file unless it has been renamed into place.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::string name) : name_(std::move(name)) {}
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    if (!kept_) ::unlink(name_.c_str());
  }
  const std::string& name() const { return name_; }
  void keep() { kept_ = true; }

 private:
  std::string name_;
  bool kept_ = false;
};

}  // namespace

bool DBFile::write(const std::vector<std::string>& lines) {
  if (readOnly || !opened || !locked) return false;
  std::vector<std::string_view> pieces;
  try {
    pieces.reserve(lines.size() * 2);
  } catch (const std::bad_alloc&) {
    const std::string tempName = path + "+";
    db::logger().log(db::kFailure, "cannot write temporary file %s for %s.", tempName.c_str(), path.c_str());
    db::logFailure(db::IoFailure{"write", tempName, ENOMEM});
    close();
    return false;
  }
  for (const std::string& line : lines) {
    pieces.emplace_back(line);
    pieces.emplace_back("\n", 1);
  }
  return writeText(pieces);
}

bool DBFile::writeText(std::span<const std::string_view> pieces) {
  if (readOnly || !opened || !locked) return false;
  close();
  const std::string backupName = path + "-";
  db::IoFailure failure;
  if (!copyFile(backupName.c_str(), path.c_str(), &failure)) {
    db::logger().log(db::kFailure, "cannot create backup file %s for %s.", backupName.c_str(), path.c_str());
    db::logFailure(failure);
    return false;
  }
  db::logger().log(db::kProgress, "backup file %s is created for %s.", backupName.c_str(), path.c_str());

  struct stat status;
  if (::stat(path.c_str(), &status) != 0) {
    failure.set("stat", path, errno);
    db::logFailure(failure);
    return false;
  }
  TemporaryFile temp(path + "+");
  UniqueFd fd;
  if (!openTempFile(fd, temp.name().c_str(), "w", &status, &failure)) {
    db::logger().log(db::kFailure, "cannot open temporary file %s for writing.", temp.name().c_str());
    db::logFailure(failure);
    return false;
  }
  bool written = writePieces(fd.get(), pieces, temp.name(), &failure);
  if (written && ::fsync(fd.get()) != 0) written = failure.set("fsync", temp.name(), errno);
  if (written && !fd.close()) written = failure.set("close", temp.name(), errno);
  const std::string directory = directoryOf(path);
  UniqueFd directoryFd;
  if (written) {
    directoryFd = UniqueFd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directoryFd.valid()) written = failure.set("open", directory, errno);
  }
  if (!written) {
    db::logger().log(db::kFailure, "cannot write temporary file %s for %s.", temp.name().c_str(), path.c_str());
    db::logFailure(failure);
    return false;
  }
  if (::rename(temp.name().c_str(), path.c_str()) != 0) {
    failure.set("rename", temp.name(), errno);
    db::logger().log(db::kFailure, "cannot rename file %s to %s.", temp.name().c_str(), path.c_str());
    db::logFailure(failure);
    return false;
  }
  temp.keep();
  // The new file is in place; without a synced directory a crash could still bring back the old
  // one, which the caller is told by a false result.
  if (::fsync(directoryFd.get()) != 0) {
    failure.set("fsync", directory, errno);
    db::logFailure(failure);
    return false;
  }
  return true;
}

}  // namespace vesk
