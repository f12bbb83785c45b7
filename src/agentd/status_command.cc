#include "status_command.h"

#include <errno.h>

#include <cstdio>
#include <cstring>

#include "agent_exchange.h"
#include "agent_status.h"
#include "paths.h"
#include "pn.h"
#include "props.h"

namespace vesk::agentd {
namespace {

constexpr long kDefaultStatusTimeoutMs = 10000;

int printState(const char* state, const std::string& reason) {
  std::printf("state: %s\n", state);
  if (!reason.empty()) std::printf("reason: %s\n", reason.c_str());
  return 1;
}

}  // namespace

int statusMain() {
  using agentproto::Clock;
  const std::string path = lookupProperty(PN::AGENT_SOCKET, kAgentEndpointPath);
  const long timeoutMs = Props(false).getNumber(PN::AGENT_REPLY_TIMEOUT_MS, kDefaultStatusTimeoutMs);
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : kDefaultStatusTimeoutMs);
  int errorNumber = 0;
  UniqueFd fd = agentproto::connectUnix(path, deadline, errorNumber);
  if (!fd.valid()) {
    // Nothing listens: the agent does not run. Anything else: it runs but cannot be asked.
    const bool down = errorNumber == ENOENT || errorNumber == ECONNREFUSED;
    return printState(down ? kStateDown : kStateUnavailable, path + ": " + std::strerror(errorNumber));
  }
  agentproto::Request request;
  request.type = agentproto::MessageType::Status;
  agentproto::Reply reply;
  agentproto::ExchangeFailure failure;
  StatusReport report;
  if (!agentproto::exchange(fd.get(), request, deadline, reply, failure)) {
    return printState(kStateUnavailable, "the agent at " + path + " gave no status: " + failure.describe());
  }
  if (!decodeStatus(reply.statusReport, report)) {
    return printState(kStateUnavailable, "the agent at " + path + " gave no status" +
                                             (reply.errorText.empty() ? "" : ": " + reply.errorText));
  }
  std::printf("state: %s\n", report.state.c_str());
  if (!report.reason.empty()) std::printf("reason: %s\n", report.reason.c_str());
  std::printf("realm: %s\n", report.realm.c_str());
  if (report.reachedAgo < 0) {
    std::printf("KDC last reached: never\n");
  } else {
    std::printf("KDC last reached: %s, %lld s ago\n", report.kdc.empty() ? "(address unknown)" : report.kdc.c_str(),
                report.reachedAgo);
  }
  std::printf("host keytab: %s\n", report.keytab.empty() ? "none (KDC not verified)" : report.keytab.c_str());
  std::printf("uptime: %lld s\n", report.uptime);
  std::printf("requests: %llu (%llu failed, %llu refused by the realm)\n", report.requests, report.failed,
              report.refused);
  std::printf("realm checks: %llu\n", report.checks);
  for (const auto& server : report.servers) {
    if (server.answeredAgo < 0) {
      std::printf("server %s: %s, never answered\n", server.name.c_str(), server.state.c_str());
    } else {
      std::printf("server %s: %s, answered %lld s ago\n", server.name.c_str(), server.state.c_str(),
                  server.answeredAgo);
    }
  }
  return report.state == kStateConnected ? 0 : 1;
}

}  // namespace vesk::agentd
