#include "account_names.h"

#include <pwd.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
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
    logger->log(vesk::LogLevel::kError, "Current user is not known. UID=%u", static_cast<unsigned>(uid));
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

DirectoryAccount askDirectoryAccount(const std::string& name, bool quick) {
  constexpr int kNoSuchAccount = 17;
  DirectoryAccount account;
  try {
    const auto started = std::chrono::steady_clock::now();
    vesk::LocalRpcSession session(vesk::kAgentEndpointPath, false, false);
    if (quick) {
      const auto spent =
          std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
      session.limitReplyTime(std::max<long>(1, session.connectTimeoutMs() - static_cast<long>(spent)));
    }
    const std::string mapped = mapUserName(name);
    if (session.getUser(mapped.empty() ? name : mapped, vesk::UNIX_ONLY) != nullptr) {
      account.answer = DirectoryAnswer::kKnown;
    } else if (session.lastResult() == kNoSuchAccount) {
      account.answer = DirectoryAnswer::kUnknown;
    } else {
      account.reason = session.errorString(session.lastResult());
      account.agentAnswered = true;
    }
  } catch (const std::exception& e) {
    account.reason = e.what();
  } catch (...) {
    account.reason = "unexpected failure";
  }
  return account;
}

bool isUserKnownToAgent(const std::string& name) {
  return askDirectoryAccount(name, false).answer == DirectoryAnswer::kKnown;
}
