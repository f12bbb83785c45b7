#include "local_rpc_session.h"

#include "exceptions.h"

// Placeholder until the agent protocol lands: every session fails to connect.
namespace vesk {

class LocalRpcSession::Connection {};

LocalRpcSession::LocalRpcSession(const std::string& endpoint, bool, bool) {
  throw IPCException("cannot connect to the directory agent at " + endpoint + ": not available");
}
LocalRpcSession::~LocalRpcSession() = default;
ValidationResult LocalRpcSession::validatePlainTextUser(const std::string&, const Shredder&, bool) { return -1; }
ValidationResult LocalRpcSession::changePassword(const std::string&, const Shredder&, const Shredder&, bool) { return -1; }
ValidationResult LocalRpcSession::setPassword(const std::string&, const Shredder&, const std::string&, const Shredder&) { return -1; }
ValidationResult LocalRpcSession::authenticateProcess() { return -1; }
ValidationResult LocalRpcSession::setPasswordKrb5(const std::string&, const Shredder&) { return -1; }
std::string LocalRpcSession::errorString(ValidationResult result) const { return "result " + std::to_string(result); }
std::shared_ptr<AgentUser> LocalRpcSession::getUser(const std::string&, int) { return nullptr; }

}  // namespace vesk
