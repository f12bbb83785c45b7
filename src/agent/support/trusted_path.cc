#include "trusted_path.h"

#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace vesk {
namespace {

std::string modeText(unsigned mode) {
  char octal[8];
  std::snprintf(octal, sizeof octal, "%04o", mode & 07777);
  return octal;
}

bool trustedDirectory(const struct stat& info, std::string& why) {
  if (info.st_uid != 0) {
    why = "not owned by root (owner uid " + std::to_string(info.st_uid) + ")";
    return false;
  }
  const bool sticky = (info.st_mode & S_ISVTX) != 0;
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0 && !sticky) {
    why = "writable by group or others (mode " + modeText(info.st_mode) + ")";
    return false;
  }
  return true;
}

// The directory at the resolved path dir, each step checked; invalid with why when refused.
UniqueFd openTrustedDirectory(const std::string& dir, std::string& why) {
  UniqueFd current(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
  std::string walked = "/";
  std::size_t start = 1;
  for (;;) {
    struct stat info;
    if (!current.valid() || fstat(current.get(), &info) != 0) {
      why = walked + ": " + std::strerror(errno);
      return UniqueFd();
    }
    if (!trustedDirectory(info, why)) {
      why = walked + ": " + why;
      return UniqueFd();
    }
    if (start >= dir.size()) return current;
    std::size_t end = dir.find('/', start);
    if (end == std::string::npos) end = dir.size();
    const std::string name = dir.substr(start, end - start);
    start = end + 1;
    if (name.empty()) continue;
    walked += (walked.size() > 1 ? "/" : "") + name;
    current.reset(openat(current.get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  }
}

}  // namespace

bool trustedOwnerAndMode(unsigned owner, unsigned mode, std::string& why) {
  if (owner != 0) {
    why = "not owned by root (owner uid " + std::to_string(owner) + ")";
    return false;
  }
  if ((mode & (S_IWGRP | S_IWOTH)) != 0) {
    why = "writable by group or others (mode " + modeText(mode) + ")";
    return false;
  }
  return true;
}

namespace {

// openTrusted with the flags to open with; the owner and mode of the file are checked for reads.
TrustedOpen openChecked(const std::string& path, int flags, TrustedUse use) {
  TrustedOpen result;
  const auto refuse = [&result, &path](const std::string& why) {
    result.fd.reset();
    result.why = path + ": " + why;
    return std::move(result);
  };
  const auto slash = path.rfind('/');
  if (path.empty() || path[0] != '/' || slash + 1 == path.size()) return refuse("not an absolute path of a file");
  const std::string directory = slash == 0 ? "/" : path.substr(0, slash);
  const std::string name = path.substr(slash + 1);
  char resolved[PATH_MAX];
  if (realpath(directory.c_str(), resolved) == nullptr) return refuse(std::strerror(errno));
  std::string why;
  const UniqueFd parent = openTrustedDirectory(resolved, why);
  if (!parent.valid()) return refuse("directory " + why);
  // O_NONBLOCK: opening a FIFO must not wait for a writer.
  result.fd.reset(openat(parent.get(), name.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600));
  if (!result.fd.valid()) {
    if (errno == ELOOP) return refuse("a symbolic link");
    result.missing = errno == ENOENT;
    return refuse(std::strerror(errno));
  }
  struct stat info;
  if (fstat(result.fd.get(), &info) != 0) return refuse(std::strerror(errno));
  if (!S_ISREG(info.st_mode)) return refuse("not a regular file");
  if (use == TrustedUse::Read && !trustedOwnerAndMode(info.st_uid, info.st_mode, why)) return refuse(why);
  const int status = fcntl(result.fd.get(), F_GETFL);
  if (status < 0 || fcntl(result.fd.get(), F_SETFL, status & ~O_NONBLOCK) != 0) return refuse(std::strerror(errno));
  return result;
}

}  // namespace

TrustedOpen openTrusted(const std::string& path, TrustedUse use) {
  return openChecked(path, use == TrustedUse::Read ? O_RDONLY : O_WRONLY | O_APPEND | O_CREAT, use);
}

bool trustedPath(const std::string& path, TrustedUse use, std::string& why) {
  // Opened only for reading, whatever the use: a check must not create the file.
  const TrustedOpen file = openChecked(path, O_RDONLY, use);
  if (file.fd.valid() || file.missing) return true;
  why = file.why;
  return false;
}

}  // namespace vesk
