#include "cache_refresh.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "account_paths.h"
#include "logger.h"
#include "process_spawn.h"
#include "unique_fd.h"

namespace {

// nscd caches no shadow entries; its passwd table holds the passwd line (and "x" or the hash of an
// account without a shadow entry). sss_cache -U marks every user entry of sssd's cache stale.
constexpr const char* const kNscdArguments[] = {"nscd", "-i", "passwd", nullptr};
constexpr const char* const kSssCacheArguments[] = {"sss_cache", "-U", nullptr};
constexpr const char* const kNoEnvironment[] = {nullptr};

void run(const char* path, const char* const arguments[]) {
  if (access(path, X_OK) != 0) return;
  const auto logger = vesk::Logger::GetLogger("cli.passwd");
  const vesk::UniqueFd null(open(vesk::kNullDevicePath, O_RDWR | O_CLOEXEC));
  if (!null.valid()) {
    logger->log(vesk::LogLevel::kWarning, "cache not refreshed: %s: %s", path, std::strerror(errno));
    return;
  }
  const int fds[3] = {null.get(), null.get(), null.get()};
  const int status = spawnfve(0, 3, fds, path, arguments, kNoEnvironment);
  if (status == 0) {
    logger->log(vesk::LogLevel::kProgress, "cache refreshed: %s %s", path, arguments[1]);
  } else {
    logger->log(vesk::LogLevel::kWarning, "cache not refreshed: %s %s: %s", path, arguments[1],
                status < 0 ? std::strerror(errno) : ("status " + std::to_string(status)).c_str());
  }
}

}  // namespace

void refreshAccountCaches() {
  run(vesk::kNscdProgramPath, kNscdArguments);
  run(vesk::kSssCacheProgramPath, kSssCacheArguments);
}
