// The agent's state as "kestrovad status" shows it: whether the agent reaches its realm, which KDC
// answered last and when, whether a host keytab proves the KDC genuine, uptime and request counts.
//
// The agent answers a Status request with a status report: "key=value" pairs separated by ";"
// (keys: state, realm, kdc, reached, reason, keytab, uptime, requests, failed). Values never hold
// ";" or "=".
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <string_view>

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
  unsigned long long failed = 0;
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
  void counted(bool failed);
  StatusReport report() const;

 private:
  using Clock = std::chrono::steady_clock;
  mutable std::mutex mutex_;
  StatusReport report_;
  Clock::time_point started_ = Clock::now();
  Clock::time_point reachedAt_;
};

}  // namespace vesk::agentd
