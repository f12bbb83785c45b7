// The agent's answer to one decoded request: the time limit and who answers first (the serving
// thread or the watchdog), the dispatch to the Kerberos operations, the realm's state, the reply on
// the connection and one log record per request; refusals logged once per burst from a user, and
// the delay of repeated wrong passwords (validation_delay.h).
//
// Every member may be called from any serving thread; the time limits may change while they serve.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "agent_protocol.h"
#include "agent_status.h"
#include "hand_over.h"
#include "kerberos_client.h"
#include "logger.h"
#include "refusal_log.h"
#include "server_health.h"
#include "server_settings.h"
#include "validation_delay.h"
#include "watchdog.h"

namespace vesk::agentd {

// Who is asking, from SO_PEERCRED.
struct Peer {
  pid_t pid = 0;
  uid_t uid = 0;
  gid_t gid = 0;
};

class RequestHandler {
 public:
  explicit RequestHandler(const ServerSettings& settings);
  RequestHandler(const RequestHandler&) = delete;
  RequestHandler& operator=(const RequestHandler&) = delete;

  // The record that the agent serves, with its limits and whether validations verify the KDC.
  void logServing(const std::string& socketPath) const;
  // The first check of the realm: the state is "starting" until it ends, at most the probe's time.
  // Runs in the calling thread.
  void checkRealmAtStart();

  // Runs the request with its time limit and sends the reply on fd; false when the connection
  // cannot go on (the reply could not be sent, or the watchdog answered instead).
  bool answer(int fd, const agentproto::Request& request, const Peer& peer);
  // Sends a refusal with result 23 that gives why, and logs it with what it refused (when given)
  // before why; false when it could not be sent.
  bool refuse(int fd, const Peer& peer, const std::string& why, const std::string& refused = std::string());
  // Logs a refusal that is not answered (the connection is closed). Refusals of one user are
  // logged once per burst (refusal_log.h).
  void logRefusal(const Peer& peer, const std::string& why);

  // The time limits of fresh for the requests that follow.
  void applyLimits(const ServerSettings& fresh);

 private:
  // The operation's reply. handOver: as for KerberosClient::change.
  agentproto::Reply handle(const agentproto::Request& request, const Peer& peer, HandOver* handOver) const;
  void checkRealm() const;
  // Marks the realm connected after an answer of its KDCs (address when known), unless
  // validations cannot succeed.
  void realmAnswered(const std::string& address) const;
  agentproto::Reply statusReply(bool check) const;
  bool sendReply(int fd, agentproto::Reply reply) const;
  void logRequest(const Peer& peer, const agentproto::Request& request, const agentproto::Reply& reply) const;
  void logLateOutcome(const Peer& peer, const agentproto::Request& request, const agentproto::Reply& reply) const;

  const RealmSettings realm_;
  KerberosClient kerberos_;
  mutable AgentState state_;
  std::shared_ptr<Logger> logger_;
  std::atomic<std::chrono::milliseconds> kdcTimeout_;
  std::atomic<std::chrono::milliseconds> probeTimeout_;
  const std::string keytabRefusal_;
  RefusalLog refusals_;
  ValidationDelay delays_;
  Watchdog watchdog_;
  // Last: stopped before the members it uses.
  BackgroundProbe heldBackProbe_;
};

}  // namespace vesk::agentd
