#include "agent_server.h"

namespace vesk::agentd {

AgentServer::AgentServer(const ServerSettings& settings)
    : settings_(settings), handler_(settings_), listener_(settings_, handler_) {}

bool AgentServer::listen(std::string& why) {
  if (!listener_.listen(why)) return false;
  handler_.logServing(settings_.socketPath);
  return true;
}

bool AgentServer::run(int stopFd) {
  listener_.spawn([this] { handler_.checkRealmAtStart(); });
  return listener_.run(stopFd);
}

bool AgentServer::applySettings(const ServerSettings& fresh) {
  handler_.applyLimits(fresh);
  listener_.applyLimits(fresh);
  return fresh.socketPath == settings_.socketPath && fresh.realm.realm == settings_.realm.realm &&
         fresh.realm.domain == settings_.realm.domain;
}

}  // namespace vesk::agentd
