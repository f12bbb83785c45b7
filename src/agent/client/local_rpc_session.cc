#include "local_rpc_session.h"

#include <errno.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "agent_exchange.h"
#include "exceptions.h"
#include "pn.h"
#include "props.h"
#include "settings_table.h"

namespace vesk {
namespace {

using agentproto::Clock;
using agentproto::IoStatus;
using agentproto::MessageType;

constexpr long kDefaultConnectTimeoutMs = settingDefaultNumber(PN::AGENT_CONNECT_TIMEOUT_MS);
constexpr long kDefaultReplyTimeoutMs = settingDefaultNumber(PN::AGENT_REPLY_TIMEOUT_MS);

// Connects with the real uid as the effective one: a set-user-ID run connects to the agent as its
// caller, so that the agent (which learns the uid of a connection at connect time, from
// SO_PEERCRED) counts the connection against the caller and not against root.
UniqueFd connectAsCaller(const std::string& path, Clock::time_point deadline, int& errorNumber) {
  const uid_t raised = geteuid();
  const uid_t caller = getuid();
  if (raised == caller) return agentproto::connectUnix(path, deadline, errorNumber);
  if (seteuid(caller) != 0) throw IPCException(std::string("cannot connect as the caller: ") + std::strerror(errno));
  UniqueFd fd = agentproto::connectUnix(path, deadline, errorNumber);
  if (seteuid(raised) != 0) {
    throw IPCException(std::string("cannot take the privileges back after connecting: ") + std::strerror(errno));
  }
  return fd;
}

long timeoutSetting(const char* key, long fallback) {
  const long value = Props(false).getNumber(key, fallback);
  return value > 0 ? value : fallback;
}

// The caller's credential cache: KRB5CCNAME, or the library's default file cache of the real user.
std::string callerCacheName() {
  const char* name = std::getenv("KRB5CCNAME");
  if (name != nullptr && *name != '\0') return name;
  return "FILE:/tmp/krb5cc_" + std::to_string(getuid());
}

}  // namespace

class LocalRpcSession::Connection {
 public:
  Connection(std::string path, UniqueFd fd, long replyTimeoutMs)
      : path_(std::move(path)), fd_(std::move(fd)), replyTimeoutMs_(replyTimeoutMs) {}

  // Sends request and reads its answer; false with why when the request could not be encoded
  // (nothing was sent). Every other failure ends the connection and throws.
  bool exchange(const agentproto::Request& request, agentproto::Reply& reply, std::string& why) {
    agentproto::ExchangeFailure failure;
    const auto deadline = Clock::now() + std::chrono::milliseconds(replyTimeoutMs_);
    if (agentproto::exchange(fd_.get(), request, deadline, reply, failure)) return true;
    switch (failure.step) {
      case agentproto::ExchangeStep::Encode: why = failure.why; return false;
      case agentproto::ExchangeStep::Send:
        if (failure.io == IoStatus::Timeout) {
          fail("the agent did not take the request within " + std::to_string(replyTimeoutMs_) + " ms");
        }
        fail("cannot send the request: " + failure.describe());
      case agentproto::ExchangeStep::Receive:
        if (failure.io == IoStatus::Timeout) fail("no reply within " + std::to_string(replyTimeoutMs_) + " ms");
        fail("no reply: " + failure.describe());
      case agentproto::ExchangeStep::Answer: break;
    }
    fail("the agent's answer is not a valid reply: " + failure.describe());
  }

  void limitReplyTime(long ms) { replyTimeoutMs_ = ms; }

  [[noreturn]] void fail(const std::string& reason) {
    fd_.reset();
    throw IPCException("directory agent at " + path_ + ": " + reason);
  }

 private:
  std::string path_;
  UniqueFd fd_;
  long replyTimeoutMs_;
};

LocalRpcSession::LocalRpcSession(const std::string& endpoint, bool, bool) {
  const std::string path = lookupProperty(PN::AGENT_SOCKET, endpoint);
  const long connectTimeoutMs = timeoutSetting(PN::AGENT_CONNECT_TIMEOUT_MS, kDefaultConnectTimeoutMs);
  const long replyTimeoutMs = timeoutSetting(PN::AGENT_REPLY_TIMEOUT_MS, kDefaultReplyTimeoutMs);
  int errorNumber = 0;
  UniqueFd fd = connectAsCaller(path, Clock::now() + std::chrono::milliseconds(connectTimeoutMs), errorNumber);
  if (!fd.valid()) {
    const std::string reason = errorNumber == ETIMEDOUT
                                   ? "not accepting connections within " + std::to_string(connectTimeoutMs) + " ms"
                                   : std::strerror(errorNumber);
    throw IPCException("cannot connect to the directory agent at " + path + ": " + reason);
  }
  // Passwords go only to an agent run by root or by the caller itself.
  struct ucred peer;
  socklen_t size = sizeof peer;
  if (getsockopt(fd.get(), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) {
    throw IPCException("cannot identify the directory agent at " + path + ": " + std::strerror(errno));
  }
  if (peer.uid != 0 && peer.uid != getuid() && peer.uid != geteuid()) {
    throw IPCException("the directory agent at " + path + " runs as uid " + std::to_string(peer.uid) +
                       ", neither root nor the caller");
  }
  connection_ = std::make_unique<Connection>(path, std::move(fd), replyTimeoutMs);
  connectTimeoutMs_ = connectTimeoutMs;
}

LocalRpcSession::~LocalRpcSession() = default;

void LocalRpcSession::limitReplyTime(long ms) {
  if (connection_ && ms > 0) connection_->limitReplyTime(ms);
}

ValidationResult LocalRpcSession::call(const agentproto::Request& request, agentproto::Reply& reply) {
  if (!connection_) throw IPCException("the directory agent session is closed");
  std::string why;
  bool sent = false;
  try {
    sent = connection_->exchange(request, reply, why);
  } catch (...) {
    connection_.reset();
    throw;
  }
  if (!sent) {
    lastResult_ = kResultBadRequest;
    lastErrorCode = 0;
    lastErrorText = "request not sent: " + why;
    return lastResult_;
  }
  lastResult_ = reply.result;
  lastErrorCode = reply.errorCode;
  lastErrorText = reply.errorText;
  return reply.result;
}

ValidationResult LocalRpcSession::validatePlainTextUser(const std::string& user, const Shredder& password, bool) {
  agentproto::Request request;
  request.type = MessageType::Validate;
  request.user = user;
  request.password = password;
  agentproto::Reply reply;
  return call(request, reply);
}

ValidationResult LocalRpcSession::changePassword(const std::string& user, const Shredder& newPassword,
                                                 const Shredder& oldPassword, bool) {
  agentproto::Request request;
  request.type = MessageType::Change;
  request.user = user;
  request.password = newPassword;
  request.oldPassword = oldPassword;
  agentproto::Reply reply;
  return call(request, reply);
}

ValidationResult LocalRpcSession::setPassword(const std::string& user, const Shredder& newPassword,
                                              const std::string& adminUser, const Shredder& adminPassword) {
  agentproto::Request request;
  request.type = MessageType::Set;
  request.user = user;
  request.password = newPassword;
  request.adminUser = adminUser;
  request.adminPassword = adminPassword;
  agentproto::Reply reply;
  return call(request, reply);
}

ValidationResult LocalRpcSession::authenticateProcess() {
  agentproto::Request request;
  request.type = MessageType::Authenticate;
  request.cacheName = callerCacheName();
  agentproto::Reply reply;
  const ValidationResult result = call(request, reply);
  if (result == kResultSuccess) {
    credentialCache_ = request.cacheName;
    haveCredentialCache_ = true;
  }
  return result;
}

ValidationResult LocalRpcSession::setPasswordKrb5(const std::string& user, const Shredder& newPassword) {
  agentproto::Request request;
  request.type = MessageType::SetWithCache;
  request.user = user;
  request.password = newPassword;
  request.cacheName = haveCredentialCache_ ? credentialCache_ : callerCacheName();
  agentproto::Reply reply;
  return call(request, reply);
}

std::shared_ptr<AgentUser> LocalRpcSession::getUser(const std::string& name, int flags) {
  agentproto::Request request;
  request.type = MessageType::GetUser;
  request.user = name;
  request.flags = flags;
  agentproto::Reply reply;
  if (call(request, reply) != 0) return nullptr;
  auto user = std::make_shared<AgentUser>();
  user->name = name;
  user->principal = reply.principal;
  return user;
}

std::string LocalRpcSession::errorString(ValidationResult result) const {
  const bool described = result == lastResult_ && !lastErrorText.empty();
  switch (result) {
    case kResultSuccess: return "Success";
    case kResultInvalidUser: return "Invalid user name";
    case kResultInvalidCredentials: return "Invalid user name or password";
    case kResultAccountDisabled: return "Account disabled or locked out";
    case kResultPasswordExpired: return "Password expired";
    case kResultPolicy: return "New password does not meet the password policy";
    case kResultChangeDisabled: return "Password change disabled for this user";
    case kResultAccountExpired: return "Account expired";
    case kResultWorkstationDenied: return "Logon from this workstation not allowed";
    case kResultKerberos:
      if (described) return "Kerberos failure: " + lastErrorText + " (" + std::to_string(lastErrorCode) + ")";
      return "Kerberos failure";
    case kResultPermissionDenied: return "Permission denied";
    case kResultNoSuchAccount: return "Account does not exist in the directory";
    case kResultKdcUnreachable: return described ? lastErrorText : "The Kerberos server could not be reached";
    case kResultKdcTimeout: return described ? lastErrorText : "The Kerberos server did not answer in time";
    case kResultPasswordServer: return described ? lastErrorText : "The password server refused the request";
    case kResultKerberosError: return described ? lastErrorText : "Kerberos failure";
    case kResultCredentialCache: return described ? lastErrorText : "The credential cache cannot be used";
    case kResultBadRequest: return described ? lastErrorText : "The agent refused the request";
    default: return described ? lastErrorText : "Unknown result " + std::to_string(result);
  }
}

}  // namespace vesk
