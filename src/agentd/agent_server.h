// The agent daemon's server: the listener and the request handler it hands each request to.
#pragma once

#include <string>

#include "listener.h"
#include "request_handler.h"
#include "server_settings.h"

namespace vesk::agentd {

class AgentServer {
 public:
  explicit AgentServer(const ServerSettings& settings);

  // Binds the socket and logs what the agent serves.
  bool listen(std::string& why);
  // Checks the realm once and serves until stopFd becomes readable; as Listener::run.
  bool run(int stopFd);

  // Takes the time limits and the connection limit of fresh for the requests that follow; the
  // socket and the realm stay until the agent starts again. False when fresh names another socket,
  // realm or domain.
  bool applySettings(const ServerSettings& fresh);

  RequestHandler& handler() { return handler_; }

 private:
  const ServerSettings settings_;
  RequestHandler handler_;
  Listener listener_;
};

}  // namespace vesk::agentd
