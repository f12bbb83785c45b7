// The agent daemon's listener: the socket, one thread per connection up to a limit, the dispatch of
// each request to the Kerberos operations, and one log record per request.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "agent_protocol.h"
#include "agent_socket.h"
#include "kerberos_client.h"
#include "logger.h"

namespace vesk::agentd {

struct ServerSettings {
  std::string socketPath;
  RealmSettings realm;
  std::chrono::milliseconds kdcTimeout{15000};
  std::chrono::milliseconds probeTimeout{3000};
  // How long a connection may stay silent before the agent closes it.
  std::chrono::milliseconds idleTimeout{30000};
  std::size_t maxConnections = 128;

  // The settings from the process-wide settings file; false with the reason when incomplete.
  static bool fromProps(ServerSettings& settings, std::string& why);
};

// Who is asking, from SO_PEERCRED.
struct Peer {
  pid_t pid = 0;
  uid_t uid = 0;
  gid_t gid = 0;
};

class AgentServer {
 public:
  explicit AgentServer(ServerSettings settings);
  AgentServer(const AgentServer&) = delete;
  AgentServer& operator=(const AgentServer&) = delete;
  ~AgentServer();

  // Prepares the socket's directory, binds the socket with mode 0666 and listens.
  bool listen(std::string& why);
  // Serves until stopFd becomes readable, then stops accepting, ends the open connections and
  // waits (bounded) for them. Returns false when the listener failed.
  bool run(int stopFd);

  // Answers one decoded request from peer (public for tests of the dispatch).
  agentproto::Reply handle(const agentproto::Request& request, const Peer& peer) const;

 private:
  void serveConnection(agentproto::UniqueFd fd, Peer peer);
  void logRequest(const Peer& peer, const agentproto::Request& request, const agentproto::Reply& reply) const;
  void logRefusal(const Peer& peer, const std::string& why) const;
  bool sendReply(int fd, agentproto::Reply reply) const;
  void removeSocket();

  ServerSettings settings_;
  KerberosClient kerberos_;
  std::shared_ptr<Logger> logger_;
  agentproto::UniqueFd listener_;
  dev_t socketDevice_ = 0;
  ino_t socketInode_ = 0;

  std::mutex mutex_;
  std::condition_variable idle_;
  std::set<int> connections_;
};

}  // namespace vesk::agentd
