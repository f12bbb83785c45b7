#include "agent_status.h"

#include <errno.h>

#include <cstdlib>

namespace vesk::agentd {
namespace {

// A value fit for the report: no separators, no control characters.
std::string cleaned(std::string value) {
  for (char& c : value) {
    if (c == ';' || c == '=' || static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
  return value;
}

bool toNumber(const std::string& text, long long& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtoll(text.c_str(), &end, 10);
  return errno == 0 && *end == '\0';
}

std::string encodeServers(const std::vector<StatusReport::Server>& servers) {
  std::string text;
  for (const auto& server : servers) {
    std::string name = cleaned(server.name);
    for (char& c : name) {
      if (c == ',' || c == '|') c = ' ';
    }
    if (!text.empty()) text += ",";
    text += name + "|" + cleaned(server.state) + "|" + std::to_string(server.answeredAgo);
  }
  return text;
}

std::vector<StatusReport::Server> decodeServers(std::string_view text) {
  std::vector<StatusReport::Server> servers;
  while (!text.empty()) {
    const auto end = text.find(',');
    const std::string_view entry = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    const auto first = entry.find('|');
    const auto second = first == std::string_view::npos ? first : entry.find('|', first + 1);
    long long ago = -1;
    if (second == std::string_view::npos || !toNumber(std::string(entry.substr(second + 1)), ago)) continue;
    servers.push_back(StatusReport::Server{std::string(entry.substr(0, first)),
                                           std::string(entry.substr(first + 1, second - first - 1)), ago});
  }
  return servers;
}

}  // namespace

std::string encodeStatus(const StatusReport& r) {
  return "state=" + cleaned(r.state) + ";realm=" + cleaned(r.realm) + ";kdc=" + cleaned(r.kdc) +
         ";reached=" + std::to_string(r.reachedAgo) + ";reason=" + cleaned(r.reason) + ";keytab=" + cleaned(r.keytab) +
         ";uptime=" + std::to_string(r.uptime) + ";requests=" + std::to_string(r.requests) +
         ";failed=" + std::to_string(r.failed) + ";refused=" + std::to_string(r.refused) +
         ";checks=" + std::to_string(r.checks) + ";servers=" + encodeServers(r.servers);
}

bool decodeStatus(std::string_view text, StatusReport& report) {
  StatusReport decoded;
  bool haveState = false;
  while (!text.empty()) {
    const auto end = text.find(';');
    const std::string_view pair = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    const auto equals = pair.find('=');
    if (equals == std::string_view::npos) return false;
    const std::string key(pair.substr(0, equals));
    const std::string value(pair.substr(equals + 1));
    long long number = 0;
    if (key == "state") {
      decoded.state = value;
      haveState = true;
    } else if (key == "realm") {
      decoded.realm = value;
    } else if (key == "kdc") {
      decoded.kdc = value;
    } else if (key == "reason") {
      decoded.reason = value;
    } else if (key == "keytab") {
      decoded.keytab = value;
    } else if (key == "reached" && toNumber(value, number)) {
      decoded.reachedAgo = number;
    } else if (key == "uptime" && toNumber(value, number)) {
      decoded.uptime = number;
    } else if (key == "requests" && toNumber(value, number)) {
      decoded.requests = static_cast<unsigned long long>(number);
    } else if (key == "failed" && toNumber(value, number)) {
      decoded.failed = static_cast<unsigned long long>(number);
    } else if (key == "refused" && toNumber(value, number)) {
      decoded.refused = static_cast<unsigned long long>(number);
    } else if (key == "checks" && toNumber(value, number)) {
      decoded.checks = static_cast<unsigned long long>(number);
    } else if (key == "servers") {
      decoded.servers = decodeServers(value);
    }
  }
  if (!haveState) return false;
  report = std::move(decoded);
  return true;
}

AgentState::AgentState(std::string realm, std::string keytab) {
  report_.realm = std::move(realm);
  report_.keytab = std::move(keytab);
}

void AgentState::reached(const std::string& address) {
  std::lock_guard<std::mutex> guard(mutex_);
  report_.state = kStateConnected;
  report_.reason.clear();
  if (!address.empty()) report_.kdc = address;
  reachedAt_ = Clock::now();
  if (report_.reachedAgo < 0) report_.reachedAgo = 0;
}

void AgentState::lost(const std::string& reason) {
  std::lock_guard<std::mutex> guard(mutex_);
  report_.state = kStateDisconnected;
  report_.reason = reason;
}

void AgentState::lostIfStarting(const std::string& reason) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (report_.state != kStateStarting) return;
  report_.state = kStateDisconnected;
  report_.reason = reason;
}

bool AgentState::isStarting() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return report_.state == kStateStarting;
}

void AgentState::counted(bool failed, bool refused) {
  std::lock_guard<std::mutex> guard(mutex_);
  ++report_.requests;
  if (failed) ++report_.failed;
  if (refused) ++report_.refused;
}

bool AgentState::beginCheck(std::chrono::milliseconds interval) {
  std::lock_guard<std::mutex> guard(mutex_);
  const auto now = Clock::now();
  if (checkedOnce_ && now - checkedAt_ < interval) return false;
  checkedOnce_ = true;
  checkedAt_ = now;
  ++report_.checks;
  return true;
}

StatusReport AgentState::report() const {
  std::lock_guard<std::mutex> guard(mutex_);
  StatusReport report = report_;
  const auto now = Clock::now();
  report.uptime = std::chrono::duration_cast<std::chrono::seconds>(now - started_).count();
  if (report.reachedAgo >= 0) {
    report.reachedAgo = std::chrono::duration_cast<std::chrono::seconds>(now - reachedAt_).count();
  }
  return report;
}

}  // namespace vesk::agentd
