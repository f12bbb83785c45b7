// Connections refused at once, held back for a while before their refusal is sent.
//
// A user who reconnects in a loop as fast as refusals come back would have the agent spend a core
// on accepting and refusing. A connection that has to be refused without waiting for room (the
// threads left are root's, or as many of the user's connections wait already) is kept here,
// holding no serving thread, and gets its refusal after kHoldTime: every loop of the user then
// turns at most once in that time. When kMaxHeld connections are held, a further one is refused
// at once. Thread-safe; one thread of its own sends the refusals.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "request_handler.h"
#include "unique_fd.h"

namespace vesk::agentd {

class RefusalPit {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::size_t kMaxHeld = 1024;

  // refuse(fd, peer, why) sends a refusal; it is called from the pit's thread.
  RefusalPit(std::chrono::milliseconds holdTime, std::function<void(int, const Peer&, const std::string&)> refuse);
  RefusalPit(const RefusalPit&) = delete;
  RefusalPit& operator=(const RefusalPit&) = delete;
  // Refuses every connection still held, then ends the thread.
  ~RefusalPit();

  // Takes fd to refuse it later; false (fd left with the caller) when the pit is full or stopped.
  bool hold(UniqueFd& fd, const Peer& peer, const std::string& why);

 private:
  struct Held {
    UniqueFd fd;
    Peer peer;
    std::string why;
    Clock::time_point due;
  };
  void loop();

  const std::chrono::milliseconds holdTime_;
  const std::function<void(int, const Peer&, const std::string&)> refuse_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Held> held_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace vesk::agentd
