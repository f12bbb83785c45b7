#include "file_replace.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace vesk {
namespace {

// Sets the process's file creation mask for the duration of one creation.
class UmaskGuard {
 public:
  explicit UmaskGuard(mode_t mask) : saved_(::umask(mask)) {}
  UmaskGuard(const UmaskGuard&) = delete;
  UmaskGuard& operator=(const UmaskGuard&) = delete;
  ~UmaskGuard() { ::umask(saved_); }

 private:
  mode_t saved_;
};

bool copyWithReadWrite(int from, int to, const char* target, const char* source, db::IoFailure* failure) {
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t n = ::read(from, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return failure->set("read", source, errno);
    }
    if (n == 0) return true;
    const std::string_view piece(buffer, static_cast<std::size_t>(n));
    if (!writePieces(to, std::span(&piece, 1), target, failure)) return false;
  }
}

// Copies the rest of from into to inside the kernel where the file system allows it.
bool copyContent(int from, int to, const char* target, const char* source, db::IoFailure* failure) {
  constexpr std::size_t kChunk = std::size_t{1} << 30;
  bool copiedAny = false;
  for (;;) {
    const ssize_t n = ::copy_file_range(from, nullptr, to, nullptr, kChunk, 0);
    if (n > 0) {
      copiedAny = true;
      continue;
    }
    if (n == 0) return true;
    if (errno == EINTR) continue;
    const bool unsupported = errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP;
    if (unsupported && !copiedAny) return copyWithReadWrite(from, to, target, source, failure);
    return failure->set("write", target, errno);
  }
}

}  // namespace

bool createTempFile(UniqueFd& file, const std::string& name, const struct stat& status, db::IoFailure* failure) {
  if (name.empty()) return failure->set("open", name, EINVAL);
  if (::unlink(name.c_str()) != 0 && errno != ENOENT) return failure->set("unlink", name, errno);
  UniqueFd created;
  {
    UmaskGuard mask(0777);
    created = UniqueFd(::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600));
  }
  if (!created.valid()) return failure->set("open", name, errno);
  if (::fchown(created.get(), status.st_uid, status.st_gid) != 0) return failure->set("fchown", name, errno);
  if (::fchmod(created.get(), status.st_mode & 0664) != 0) return failure->set("fchmod", name, errno);
  file = std::move(created);
  return true;
}

bool replaceWithCopy(const std::string& target, const std::string& sourceName, int source, const struct stat& status,
                     db::IoFailure* failure) {
  TemporaryName temp(target + "+");
  UniqueFd to;
  if (!createTempFile(to, temp.name(), status, failure)) return false;
  if (::lseek(source, 0, SEEK_SET) != 0) return failure->set("lseek", sourceName, errno);
  if (!copyContent(source, to.get(), temp.name().c_str(), sourceName.c_str(), failure)) return false;
  const struct timespec times[2] = {status.st_atim, status.st_mtim};
  if (::futimens(to.get(), times) != 0) return failure->set("futimens", temp.name(), errno);
  if (::fsync(to.get()) != 0) return failure->set("fsync", temp.name(), errno);
  if (!to.close()) return failure->set("close", temp.name(), errno);
  if (!temp.renameTo(target)) return failure->set("rename", temp.name(), errno);
  return true;
}

bool TemporaryName::renameTo(const std::string& target) {
  if (::rename(name_.c_str(), target.c_str()) != 0) return false;
  kept_ = true;
  return true;
}

bool writePieces(int fd, std::span<const std::string_view> pieces, const std::string& name,
                 db::IoFailure* failure) {
  constexpr std::size_t kBatch = IOV_MAX;
  struct iovec vectors[kBatch];
  std::size_t next = 0;      // first piece not yet in a batch
  std::size_t skip = 0;      // bytes of pieces[next] already written
  while (next < pieces.size()) {
    std::size_t count = 0;
    for (std::size_t i = next; i < pieces.size() && count < kBatch; ++i) {
      const std::size_t offset = i == next ? skip : 0;
      if (pieces[i].size() == offset) continue;
      vectors[count].iov_base = const_cast<char*>(pieces[i].data() + offset);
      vectors[count].iov_len = pieces[i].size() - offset;
      ++count;
    }
    if (count == 0) break;
    const ssize_t written = ::writev(fd, vectors, static_cast<int>(count));
    if (written < 0) {
      if (errno == EINTR) continue;
      return failure->set("write", name, errno);
    }
    if (written == 0) return failure->set("write", name, EIO);
    // Advance past what was written.
    std::size_t left = static_cast<std::size_t>(written);
    while (next < pieces.size() && left > 0) {
      const std::size_t remaining = pieces[next].size() - skip;
      if (left >= remaining) {
        left -= remaining;
        ++next;
        skip = 0;
      } else {
        skip += left;
        left = 0;
      }
    }
    while (next < pieces.size() && pieces[next].size() == skip) {
      ++next;
      skip = 0;
    }
  }
  return true;
}

std::string directoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace vesk
