#include "account_names.h"

#include <pwd.h>
#include <string.h>
#include <unistd.h>

#include <iostream>

#include "local_rpc_session.h"
#include "logger.h"
#include "paths.h"
#include "pn.h"
#include "props.h"

std::string mapUserName(const std::string& name) {
  return vesk::lookupProperty((std::string(vesk::PN::PAM_MAPUSER) + name).c_str(), std::string());
}

bool resolveCurrentUser(PasswordRequest& request) {
  auto logger = vesk::Logger::GetLogger("cli.tarvenko");
  const uid_t uid = getuid();
  const struct passwd* entry = getpwuid(uid);
  if (entry == nullptr) {
    std::cerr << "Error: " << "Current user is not known. UID=" << static_cast<unsigned>(uid) << std::endl;
    if (logger && logger->isEnabled(4)) logger->log(4, "Current user is not known. UID=%u", static_cast<unsigned>(uid));
    return false;
  }
  const std::string localName = entry->pw_name;
  if (request.debug) std::cerr << "Resolved UID=" << uid << " to " << localName << std::endl;
  const std::string mapped = mapUserName(localName);
  const std::string account = mapped.empty() ? localName : mapped;
  char* copy = strdup(account.c_str());  // lives until the process ends
  if (copy == nullptr) return false;
  request.user = copy;
  if (request.debug && account != localName) std::cerr << "Map to user " << account << std::endl;
  return true;
}

bool isUserKnownToAgent(const std::string& name) {
  try {
    vesk::LocalRpcSession session(vesk::kAgentEndpointPath, false, false);
    const std::string mapped = mapUserName(name);
    return session.getUser(mapped.empty() ? name : mapped, vesk::UNIX_ONLY) != nullptr;
  } catch (...) {
    return false;
  }
}
