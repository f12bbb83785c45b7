// Client of the local directory agent.
//
// One session is one connection to the agent's Unix socket. The endpoint given to the constructor
// is the default socket path; the settings key vesk::PN::AGENT_SOCKET overrides it. Connecting is
// bounded by vesk::PN::AGENT_CONNECT_TIMEOUT_MS and each answer by vesk::PN::AGENT_REPLY_TIMEOUT_MS;
// an agent that is missing, refuses, closes or stays silent raises IPCException, whose text names
// the socket path and the reason. After such an exception the session is closed and every further
// call raises IPCException again. A set-user-ID caller connects with its real uid as the effective
// one, so that the agent counts the connection against the user who runs it.
#pragma once

#include <memory>
#include <string>

#include "agent_results.h"
#include "shredder.h"

namespace vesk {

namespace agentproto {
struct Request;
struct Reply;
}  // namespace agentproto

// The outcome of an agent operation: an AgentResult value (agent_results.h); 0 is success.
using ValidationResult = int;

// getUser flag: ask only for users that map to a Unix account.
inline constexpr int UNIX_ONLY = 1;

// What the agent knows of a user.
struct AgentUser {
  std::string name;       // the name as asked
  std::string principal;  // the Kerberos principal that stands behind it
};

class LocalRpcSession {
 public:
  // Connects to the agent; throws IPCException when it cannot be reached in time. The flags are
  // reserved and ignored.
  LocalRpcSession(const std::string& endpoint, bool reserved1, bool reserved2);
  ~LocalRpcSession();
  LocalRpcSession(const LocalRpcSession&) = delete;
  LocalRpcSession& operator=(const LocalRpcSession&) = delete;

  ValidationResult validatePlainTextUser(const std::string& user, const Shredder& password, bool reserved);
  ValidationResult changePassword(const std::string& user, const Shredder& newPassword,
                                  const Shredder& oldPassword, bool reserved);
  ValidationResult setPassword(const std::string& user, const Shredder& newPassword,
                               const std::string& adminUser, const Shredder& adminPassword);
  // Hands the caller's Kerberos credential cache (KRB5CCNAME, or the default file cache of the real
  // user) to the agent, which checks that the caller can use it, and keeps it for setPasswordKrb5.
  ValidationResult authenticateProcess();
  ValidationResult setPasswordKrb5(const std::string& user, const Shredder& newPassword);
  // A readable text for any result value.
  std::string errorString(ValidationResult result) const;
  // The user, or an empty pointer when the agent does not know the name or cannot reach the realm
  // (lastErrorText then says which). Every principal of the realm counts as a Unix user, so the
  // flags change nothing.
  std::shared_ptr<AgentUser> getUser(const std::string& name, int flags);

  // The result of the last call (getUser included: 17 when the realm lacks the name).
  ValidationResult lastResult() const { return lastResult_; }
  // Bounds every further answer by ms instead of the configured reply time limit.
  void limitReplyTime(long ms);
  // The time limit the session was given for connecting, in milliseconds.
  long connectTimeoutMs() const { return connectTimeoutMs_; }

  // After result 9: the Kerberos error code and its text. After any other result, what the agent
  // said about it (the text behind errorString for the agent's own values above 17).
  int lastErrorCode = 0;
  std::string lastErrorText;

 private:
  class Connection;
  // Sends one request and keeps the reply's result, error code and error text. A request with a
  // field out of bounds is not sent: the result is then the agent's "bad request" value. Throws
  // IPCException when the agent fails.
  ValidationResult call(const agentproto::Request& request, agentproto::Reply& reply);

  std::unique_ptr<Connection> connection_;
  ValidationResult lastResult_ = kResultSuccess;
  long connectTimeoutMs_ = 0;
  std::string credentialCache_;
  bool haveCredentialCache_ = false;
};

// True when the settings name the domain this host is joined to, or name the realm "auto" and the
// Kerberos configuration has a default realm.
bool joined();

}  // namespace vesk
