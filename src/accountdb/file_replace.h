// The file operations of a write-back: the backup, the temporary file and its content.
//
// Every file is first written under a temporary name, the target name + "+", and only a complete
// and synced file is renamed into place: a failure at any step leaves every existing file as it
// was. The temporary name is created exclusively and never followed: whatever is found there (a
// file left by a run that crashed, a hard or symbolic link someone left) is removed as a name
// first, so that no write can reach a file that is also known under another name.
//
// Every write, flush, fsync and close is checked. On failure the functions return false and
// describe the failing call in *failure; they log nothing themselves.
#pragma once

#include <sys/stat.h>

#include <span>
#include <string>
#include <string_view>

#include "db_log.h"
#include "unique_fd.h"

namespace vesk {

// Creates name as a new file and opens it for writing. The file is created under the process
// mask 0777, so it has no permission bits at all until it takes status's owner and group and
// status's permission bits masked with 0664 (no execute, set-id or sticky bits, no write for
// others); both calls are checked. An existing entry called name is unlinked first.
bool createTempFile(UniqueFd& file, const std::string& name, const struct stat& status, db::IoFailure* failure);

// Replaces target by a copy of the file sourceName open on source (status is its fstat): the copy is written
// to target + "+" (see createTempFile), gets the source's access and modification times, is synced
// and renamed over target. On failure the temporary name is removed and target is untouched. A
// target that is a hard or symbolic link of the source is replaced as a name, never written.
bool replaceWithCopy(const std::string& target, const std::string& sourceName, int source, const struct stat& status,
                     db::IoFailure* failure);

// Writes all pieces to fd in order, resuming after short writes.
bool writePieces(int fd, std::span<const std::string_view> pieces, const std::string& name,
                 db::IoFailure* failure);

// The directory that holds path ("." for a bare name).
std::string directoryOf(const std::string& path);

// A temporary file name that removes its file unless it has been renamed into place.
class TemporaryName {
 public:
  explicit TemporaryName(std::string name) : name_(std::move(name)) {}
  TemporaryName(const TemporaryName&) = delete;
  TemporaryName& operator=(const TemporaryName&) = delete;
  ~TemporaryName() {
    if (!kept_) ::unlink(name_.c_str());
  }
  const std::string& name() const { return name_; }
  // Renames the file to target; from then on it is no longer removed. False (errno set) on failure.
  bool renameTo(const std::string& target);

 private:
  std::string name_;
  bool kept_ = false;
};

}  // namespace vesk
