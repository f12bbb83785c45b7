// The agent's socket and its serving threads: the socket's directory, the socket made and removed,
// the threads that accept connections, the admission of each caller, and the reading of each
// request frame, which goes to the request handler.
//
// Each connection is served by one thread, which also does the request's Kerberos exchanges, so a
// slow answer holds up only its own caller. Serving threads wait in accept() and are kept between
// connections (a thread's first exchange pays for the crypto library's per-thread set-up); one more
// is started whenever none is left waiting, up to maxConnections, beyond which connections wait in
// the listen queue.
//
// Admission: root's connections are always taken; rootConnections of the threads are kept for
// them. Another user's connection beyond maxConnectionsPerUid waits up to admissionWait for one of
// that user's connections to end (as many may wait as may be open) and is refused after that, or
// at once when the threads left are root's; a refusal made at once is sent only after admissionWait
// (refusal_pit.h). A connection that has had its answer is closed after idleTimeout of silence.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "refusal_pit.h"
#include "request_handler.h"
#include "server_settings.h"
#include "unique_fd.h"

namespace vesk::agentd {

class Listener {
 public:
  Listener(const ServerSettings& settings, RequestHandler& handler);
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;
  ~Listener();

  // Prepares the socket's directory, binds the socket with mode 0666 and listens.
  bool listen(std::string& why);
  // Runs work in a thread of its own that stopping waits for, like a serving thread.
  void spawn(std::function<void()> work);
  // Serves until stopFd becomes readable, then stops accepting, ends the open connections and
  // waits a little for their threads. False when some are still inside the Kerberos library (the
  // process should then leave without running destructors).
  bool run(int stopFd);

  // The idle limit and the connection limit of fresh for the connections that follow.
  void applyLimits(const ServerSettings& fresh);

 private:
  void serveLoop();
  void startThreadLocked();
  void serveConnection(int fd, const Peer& peer);
  void removeSocket();
  enum class Admission { Admitted, Refused, RefusedAtOnce };
  // Counts a connection of uid, waiting for room when the user holds too many; when it must be
  // refused, nothing is counted and why says why.
  Admission admit(uid_t uid, std::string& why);
  void releaseLocked(uid_t uid);

  const std::string socketPath_;
  const std::size_t maxConnectionsPerUid_;
  const std::chrono::milliseconds admissionWait_;
  const std::size_t rootConnections_;
  const std::chrono::milliseconds firstRequestTimeout_;
  std::atomic<std::chrono::milliseconds> idleTimeout_;
  std::atomic<std::size_t> maxConnections_;
  RequestHandler& handler_;
  RefusalPit pit_;
  UniqueFd listener_;
  dev_t socketDevice_ = 0;
  ino_t socketInode_ = 0;

  std::mutex mutex_;
  std::condition_variable threadsDone_;
  std::condition_variable connectionEnded_;
  std::size_t threads_ = 0;
  std::size_t waiting_ = 0;
  bool stopping_ = false;
  std::set<int> connections_;
  std::map<uid_t, std::size_t> connectionsOfUid_;  // open connections of users other than root
  std::map<uid_t, std::size_t> waitingOfUid_;      // connections waiting for room, by user
  std::size_t usersBusy_ = 0;                      // threads serving or holding users other than root
};

}  // namespace vesk::agentd
