// The agent daemon's listener: the socket, the serving threads, the dispatch of each request to the
// Kerberos operations, and one log record per request.
//
// Each connection is served by one thread, which also does the request's Kerberos exchanges, so a
// slow answer holds up only its own caller. Serving threads wait in accept() and are kept between
// connections (a thread's first exchange pays for the crypto library's per-thread set-up); one more
// is started whenever none is left waiting, up to maxConnections, beyond which connections wait in
// the listen queue. A watchdog answers a request whose exchanges outlast their time limit.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <map>
#include <set>
#include <string>

#include "agent_protocol.h"
#include "agent_socket.h"
#include "agent_status.h"
#include "kerberos_client.h"
#include "logger.h"
#include "watchdog.h"

namespace vesk::agentd {

struct ServerSettings {
  std::string socketPath;
  RealmSettings realm;
  // Long enough for the library to fail over past two silent KDCs and password servers (about
  // 1 s per silent KDC, 10 s per silent password server) on every operation.
  std::chrono::milliseconds kdcTimeout{45000};
  std::chrono::milliseconds probeTimeout{5000};
  // How long a connection may stay silent before the agent closes it, and before its first request.
  std::chrono::milliseconds idleTimeout{30000};
  std::chrono::milliseconds firstRequestTimeout{5000};
  std::size_t maxConnections = 128;
  // Open connections one user other than root may hold: one user's idle connections never starve
  // the others.
  std::size_t maxConnectionsPerUid = 16;

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
  // waits a little for their threads. False when some are still inside the Kerberos library (the
  // process should then leave without running destructors).
  bool run(int stopFd);

  // Takes the time limits and the connection limit of fresh for the requests that follow; the
  // socket and the realm stay until the agent starts again. False when fresh names another socket,
  // realm or domain.
  bool applySettings(const ServerSettings& fresh);

  // Answers one decoded request from peer (public for tests of the dispatch). handOver: as for
  // KerberosClient::change.
  agentproto::Reply handle(const agentproto::Request& request, const Peer& peer,
                           HandOver* handOver = nullptr) const;

 private:
  void serveLoop();
  void startThreadLocked();
  void serveConnection(int fd, const Peer& peer);
  // Runs the request with its time limit; false when the watchdog has answered instead.
  bool answer(int fd, const agentproto::Request& request, const Peer& peer);
  void logRequest(const Peer& peer, const agentproto::Request& request, const agentproto::Reply& reply) const;
  void logRefusal(const Peer& peer, const std::string& why) const;
  bool sendReply(int fd, agentproto::Reply reply) const;
  void removeSocket();
  // Counts a connection of uid; false (nothing counted) when the user holds too many.
  bool admitLocked(uid_t uid);
  // Asks the realm's KDCs whether they answer and keeps what it found in the state.
  void checkRealm() const;
  agentproto::Reply statusReply(bool check) const;

  ServerSettings settings_;
  KerberosClient kerberos_;
  mutable AgentState state_;
  std::shared_ptr<Logger> logger_;
  // The limits a re-read of the settings may change while threads serve.
  std::atomic<std::chrono::milliseconds> kdcTimeout_;
  std::atomic<std::chrono::milliseconds> probeTimeout_;
  std::atomic<std::chrono::milliseconds> idleTimeout_;
  std::atomic<std::size_t> maxConnections_;
  UniqueFd listener_;
  dev_t socketDevice_ = 0;
  ino_t socketInode_ = 0;

  Watchdog watchdog_;
  std::mutex mutex_;
  std::condition_variable threadsDone_;
  std::size_t threads_ = 0;
  std::size_t waiting_ = 0;
  bool stopping_ = false;
  std::set<int> connections_;
  std::map<uid_t, std::size_t> connectionsOfUid_;
};

}  // namespace vesk::agentd
