#include "db_log.h"

#include <string.h>

namespace vesk::db {

Logger& logger() {
  static const std::shared_ptr<Logger> instance = Logger::GetLogger(kLoggerName);
  return *instance;
}

std::string describe(const IoFailure& failure) {
  char reason[256];
  const char* text = strerror_r(failure.error, reason, sizeof reason);
  return std::string(failure.operation) + " of " + failure.file + " failed: " + text;
}

void logFailure(const IoFailure& failure) { logger().log(kFailure, "%s.", describe(failure).c_str()); }

}  // namespace vesk::db
