// What the agent remembers of each Kerberos server between requests: a server that did not answer
// is tried last until its holdoff ends; the one that answered last is tried first.
//
// Servers are named as the transport names them ("kdc 127.0.0.1:88", "kpasswd dc1.example:464").
// Every member may be called from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vesk::agentd {

class ServerHealth {
 public:
  using Clock = std::chrono::steady_clock;

  struct Entry {
    std::string name;
    bool silent = false;        // did not answer its last exchange and is held back
    long long answeredAgo = -1;  // seconds since it last answered, -1 for never
  };

  explicit ServerHealth(std::chrono::milliseconds holdoff = std::chrono::seconds(300)) : holdoff_(holdoff) {}
  void setHoldoff(std::chrono::milliseconds holdoff);

  // The order in which to try names (indexes into names): the ones that answered last first, the
  // ones held back for silence last, the configured order otherwise.
  std::vector<std::size_t> order(const std::vector<std::string>& names) const;
  void answered(const std::string& name);
  void silent(const std::string& name);
  // Every server seen, in name order.
  std::vector<Entry> entries() const;

 private:
  struct State {
    Clock::time_point answeredAt{};
    Clock::time_point silentAt{};
    bool everAnswered = false;
    bool silent = false;
  };
  // 0: answered last time, 1: not seen or unknown, 2: held back.
  int rankLocked(const std::string& name, Clock::time_point now) const;

  mutable std::mutex mutex_;
  std::chrono::milliseconds holdoff_;
  std::map<std::string, State> states_;
};

// Runs probe every interval on a thread of its own (the held-back servers are asked again in the
// background, so that one that came back is tried first again without a caller paying for it).
class BackgroundProbe {
 public:
  BackgroundProbe(std::function<void()> probe, std::chrono::milliseconds interval);
  BackgroundProbe(const BackgroundProbe&) = delete;
  BackgroundProbe& operator=(const BackgroundProbe&) = delete;
  // Stops, waiting for a probe under way.
  ~BackgroundProbe();

 private:
  std::mutex mutex_;
  std::condition_variable stopped_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace vesk::agentd
