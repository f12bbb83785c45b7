#include "check_joined.h"

#include "local_rpc_session.h"

bool checkJoined(const std::shared_ptr<vesk::Logger>& logger, std::ostream& out) {
  if (vesk::joined()) return true;
  static const char* const kNotJoined = "Machine is not joined to any domain.";
  if (!out.fail()) out << kNotJoined << std::endl;
  if (logger && logger->isEnabled(4)) logger->log(4, "%s", kNotJoined);
  return false;
}
