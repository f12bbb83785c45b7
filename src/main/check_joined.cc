#include "check_joined.h"

#include "local_rpc_session.h"

bool checkJoined(const std::shared_ptr<vesk::Logger>& logger, std::ostream& out) {
  if (vesk::joined()) return true;
  static const char* const kNotJoined = "Machine is not joined to any domain.";
  if (!out.fail()) out << kNotJoined << std::endl;
  logger->log(vesk::LogLevel::kError, "%s", kNotJoined);
  return false;
}
