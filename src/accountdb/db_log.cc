#include "db_log.h"

#include <string.h>

namespace vesk::db {

Logger& logger() {
  static const std::shared_ptr<Logger> instance = Logger::GetLogger(kLoggerName);
  return *instance;
}

void logFailure(const IoFailure& failure) {
  char reason[256];
  const char* text = strerror_r(failure.error, reason, sizeof reason);
  logger().log(kFailure, "%s of %s failed: %s.", failure.operation, failure.file.c_str(), text);
}

}  // namespace vesk::db
