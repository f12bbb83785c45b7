// The agent's state as "kestrovad status" shows it: whether the agent reaches its realm, which KDC
// answered last and when, whether a host keytab proves the KDC genuine, uptime and request counts.
//
// The agent answers a Status request with a status report: "key=value" pairs separated by ";"
// (keys: state, realm, kdc, reached, reason, keytab, uptime, requests, failed, refused, checks,
// servers). Values never hold ";" or "="; the servers value is a list of "name|state|seconds ago"
// entries separated by ",".
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace vesk::agentd {

// The states of an agent, in the words the commands of this family use.
inline constexpr const char* kStateStarting = "starting";
inline constexpr const char* kStateConnected = "connected";
inline constexpr const char* kStateDisconnected = "disconnected";
inline constexpr const char* kStateDown = "down";
inline constexpr const char* kStateUnavailable = "<unavailable>";

struct StatusReport {
  std::string state = kStateStarting;
  std::string realm;
  std::string kdc;          // the KDC that answered last, empty when none has
  long long reachedAgo = -1;  // seconds since a KDC last answered, -1 for never
  std::string reason;       // disconnected: why
  std::string keytab;       // the host keytab in use, empty for none
  long long uptime = 0;     // seconds
  unsigned long long requests = 0;
  unsigned long long failed = 0;   // the agent could not get an answer (servers silent or down, errors)
  unsigned long long refused = 0;  // the realm answered no (wrong password, policy, unknown user)
  unsigned long long checks = 0;   // checks of the realm sent to its KDCs
  struct Server {
    std::string name;           // "kdc 192.0.2.1:88"
    std::string state;          // "answering", "silent" (tried last for a while) or "unknown"
    long long answeredAgo = -1;  // seconds, -1 for never
  };
  std::vector<Server> servers;
};

std::string encodeStatus(const StatusReport& report);
// False when text is not a status report.
bool decodeStatus(std::string_view text, StatusReport& report);

// The live state of a running agent; every member may be called from any thread.
class AgentState {
 public:
  AgentState(std::string realm, std::string keytab);
  // A KDC answered; address is empty when the answer did not say which.
  void reached(const std::string& address);
  void lost(const std::string& reason);
  // lost(), but only while the first check of the realm has not ended.
  void lostIfStarting(const std::string& reason);
  bool isStarting() const;
  // One answered request: failed when no answer came from the realm, refused when it said no.
  void counted(bool failed, bool refused = false);
  // One check of the realm begins: false (nothing counted) when the last one began less than
  // interval ago, so that status requests cannot drive the KDCs.
  bool beginCheck(std::chrono::milliseconds interval);
  StatusReport report() const;

 private:
  using Clock = std::chrono::steady_clock;
  mutable std::mutex mutex_;
  StatusReport report_;
  Clock::time_point started_ = Clock::now();
  Clock::time_point reachedAt_;
  Clock::time_point checkedAt_;
  bool checkedOnce_ = false;
};

}  // namespace vesk::agentd
