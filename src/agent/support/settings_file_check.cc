#include "settings_file_check.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "trusted_path.h"
#include "unique_fd.h"

namespace vesk {

bool privilegedProcess() { return geteuid() == 0 || getauxval(AT_SECURE) != 0; }

SettingsFile readSettingsFile(const std::string& path, bool checkTrust) {
  SettingsFile result;
  const auto refuse = [&result, &path](const std::string& why) {
    result.state = SettingsFileState::Refused;
    result.problem = path + ": " + why;
    return result;
  };
  UniqueFd fd;
  if (checkTrust) {
    TrustedOpen file = openTrusted(path, TrustedUse::Read);
    if (file.missing) return result;
    if (!file.fd.valid()) {
      result.state = SettingsFileState::Refused;
      result.problem = file.why;
      return result;
    }
    fd = std::move(file.fd);
  } else {
    fd.reset(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd.valid()) {
      if (errno == ENOENT) return result;
      return refuse(std::strerror(errno));
    }
    struct stat info;
    if (fstat(fd.get(), &info) != 0) return refuse(std::strerror(errno));
    if (!S_ISREG(info.st_mode)) return refuse("not a regular file");
  }
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
