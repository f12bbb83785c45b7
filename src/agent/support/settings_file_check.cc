#include "settings_file_check.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "unique_fd.h"

namespace vesk {

bool privilegedProcess() { return geteuid() == 0 || getauxval(AT_SECURE) != 0; }

bool trustedSettingsOwnerAndMode(unsigned owner, unsigned mode, std::string& why) {
  if (owner != 0) {
    why = "not owned by root (owner uid " + std::to_string(owner) + ")";
    return false;
  }
  if ((mode & (S_IWGRP | S_IWOTH)) != 0) {
    char octal[8];
    std::snprintf(octal, sizeof octal, "%04o", mode & 07777);
    why = std::string("writable by group or others (mode ") + octal + ")";
    return false;
  }
  return true;
}

SettingsFile readSettingsFile(const std::string& path, bool checkTrust) {
  SettingsFile result;
  const auto refuse = [&result, &path](const std::string& why) {
    result.state = SettingsFileState::Refused;
    result.problem = path + ": " + why;
    return result;
  };
  UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (!fd.valid()) {
    if (errno == ENOENT) return result;
    return refuse(std::strerror(errno));
  }
  struct stat info;
  if (fstat(fd.get(), &info) != 0) return refuse(std::strerror(errno));
  if (!S_ISREG(info.st_mode)) return refuse("not a regular file");
  std::string why;
  if (checkTrust && !trustedSettingsOwnerAndMode(info.st_uid, info.st_mode, why)) return refuse(why);
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return refuse(std::strerror(errno));
    if (n == 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  result.props = Properties::fromText(text, path);
  result.state = SettingsFileState::Used;
  return result;
}

}  // namespace vesk
