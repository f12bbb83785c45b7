#include "watchdog.h"

namespace vesk::agentd {

Watchdog::Watchdog() : thread_([this] { loop(); }) {}

Watchdog::~Watchdog() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

Watchdog::Id Watchdog::arm(Clock::time_point deadline, std::function<void()> onExpiry) {
  std::lock_guard<std::mutex> guard(mutex_);
  const Id id = next_++;
  entries_.emplace(id, Entry{deadline, std::move(onExpiry)});
  changed_.notify_one();
  return id;
}

bool Watchdog::disarm(Id id) {
  std::lock_guard<std::mutex> guard(mutex_);
  return entries_.erase(id) == 1;
}

void Watchdog::loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    if (entries_.empty()) {
      changed_.wait(lock);
      continue;
    }
    auto earliest = entries_.begin();
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->second.deadline < earliest->second.deadline) earliest = it;
    }
    // A copy: the entry may be disarmed while this thread waits.
    const Clock::time_point deadline = earliest->second.deadline;
    if (deadline > Clock::now()) {
      changed_.wait_until(lock, deadline);
      continue;
    }
    std::function<void()> action = std::move(earliest->second.onExpiry);
    entries_.erase(earliest);
    lock.unlock();
    action();
    lock.lock();
  }
}

}  // namespace vesk::agentd
