// DBFile's write-back: backup, temporary file, rename.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>
#include <string>
#include <vector>

#include "db_file.h"
#include "db_log.h"
#include "file_replace.h"

namespace vesk {

bool DBFile::write(const std::vector<std::string>& lines) {
  if (readOnly || !opened || !locked) return false;
  std::vector<std::string_view> pieces;
  try {
    pieces.reserve(lines.size() * 2);
  } catch (const std::bad_alloc&) {
    const std::string tempName = path + "+";
    db::logger().log(db::kFailure, "cannot write temporary file %s for %s.", tempName.c_str(), path.c_str());
    problem_ = DBFileProblem{};
    problem_.step = DBFileProblem::Step::kTemporary;
    problem_.failure.set("write", tempName, ENOMEM);
    db::logFailure(problem_.failure);
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
  problem_ = DBFileProblem{};
  db::IoFailure& failure = problem_.failure;
  auto fail = [this](DBFileProblem::Step step) {
    problem_.step = step;
    db::logFailure(problem_.failure);
    return false;
  };

  const std::string backupName = path + "-";
  UniqueFd source(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  struct stat status {};
  bool copied = source.valid() ? true : failure.set("open", path, errno);
  if (copied && ::fstat(source.get(), &status) != 0) copied = failure.set("stat", path, errno);
  if (copied) copied = replaceWithCopy(backupName, path, source.get(), status, &failure);
  source.close();
  if (!copied) {
    db::logger().log(db::kFailure, "cannot create backup file %s for %s.", backupName.c_str(), path.c_str());
    return fail(DBFileProblem::Step::kBackup);
  }
  db::logger().log(db::kProgress, "backup file %s is created for %s.", backupName.c_str(), path.c_str());

  TemporaryName temp(path + "+");
  UniqueFd fd;
  if (!createTempFile(fd, temp.name(), status, &failure)) {
    db::logger().log(db::kFailure, "cannot open temporary file %s for writing.", temp.name().c_str());
    return fail(DBFileProblem::Step::kTemporary);
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
    return fail(DBFileProblem::Step::kTemporary);
  }
  if (!temp.renameTo(path)) {
    failure.set("rename", temp.name(), errno);
    db::logger().log(db::kFailure, "cannot rename file %s to %s.", temp.name().c_str(), path.c_str());
    return fail(DBFileProblem::Step::kRename);
  }
  // The new file is in force from here on. Without a synced directory a crash could still bring
  // back the old one: the caller learns it from lastProblem(), not from the result.
  if (::fsync(directoryFd.get()) != 0) {
    failure.set("fsync", directory, errno);
    fail(DBFileProblem::Step::kDirectorySync);
    return true;
  }
  failure = db::IoFailure{};
  return true;
}

}  // namespace vesk
