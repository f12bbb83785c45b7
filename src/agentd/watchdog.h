// Deadlines for work the Kerberos library cannot bound by itself.
//
// A thread arms the watchdog before a blocking call and disarms it afterwards. When a deadline
// passes first, the watchdog's own thread runs the action given for it (the agent answers the
// caller with a time-out), and disarm reports that it came too late.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace vesk::agentd {

class Watchdog {
 public:
  using Clock = std::chrono::steady_clock;
  using Id = std::uint64_t;

  Watchdog();
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;
  ~Watchdog();

  Id arm(Clock::time_point deadline, std::function<void()> onExpiry);
  // True when the deadline was cancelled in time; false when its action has run or is running.
  bool disarm(Id id);

 private:
  struct Entry {
    Clock::time_point deadline;
    std::function<void()> onExpiry;
  };
  void loop();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<Id, Entry> entries_;
  Id next_ = 1;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace vesk::agentd
