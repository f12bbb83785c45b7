#include "server_health.h"

#include <algorithm>

namespace vesk::agentd {

void ServerHealth::setHoldoff(std::chrono::milliseconds holdoff) {
  std::lock_guard<std::mutex> guard(mutex_);
  holdoff_ = holdoff;
}

int ServerHealth::rankLocked(const std::string& name, Clock::time_point now) const {
  const auto found = states_.find(name);
  if (found == states_.end()) return 1;
  const State& state = found->second;
  if (state.silent) return now - state.silentAt < holdoff_ ? 2 : 1;
  return state.everAnswered ? 0 : 1;
}

std::vector<std::size_t> ServerHealth::order(const std::vector<std::string>& names) const {
  std::vector<int> ranks(names.size());
  {
    std::lock_guard<std::mutex> guard(mutex_);
    const Clock::time_point now = Clock::now();
    for (std::size_t i = 0; i < names.size(); ++i) ranks[i] = rankLocked(names[i], now);
  }
  std::vector<std::size_t> indexes(names.size());
  for (std::size_t i = 0; i < indexes.size(); ++i) indexes[i] = i;
  std::stable_sort(indexes.begin(), indexes.end(), [&ranks](std::size_t a, std::size_t b) { return ranks[a] < ranks[b]; });
  return indexes;
}

void ServerHealth::answered(const std::string& name) {
  std::lock_guard<std::mutex> guard(mutex_);
  State& state = states_[name];
  state.answeredAt = Clock::now();
  state.everAnswered = true;
  state.silent = false;
}

void ServerHealth::silent(const std::string& name) {
  std::lock_guard<std::mutex> guard(mutex_);
  State& state = states_[name];
  state.silentAt = Clock::now();
  state.silent = true;
}

std::vector<ServerHealth::Entry> ServerHealth::entries() const {
  std::vector<Entry> result;
  std::lock_guard<std::mutex> guard(mutex_);
  const Clock::time_point now = Clock::now();
  for (const auto& [name, state] : states_) {
    Entry entry;
    entry.name = name;
    entry.silent = rankLocked(name, now) == 2;
    if (state.everAnswered) {
      entry.answeredAgo = std::chrono::duration_cast<std::chrono::seconds>(now - state.answeredAt).count();
    }
    result.push_back(entry);
  }
  return result;
}

BackgroundProbe::BackgroundProbe(std::function<void()> probe, std::chrono::milliseconds interval)
    : thread_([this, probe = std::move(probe), interval] {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!stopped_.wait_for(lock, interval, [this] { return stop_; })) {
          lock.unlock();
          probe();
          lock.lock();
        }
      }) {}

BackgroundProbe::~BackgroundProbe() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    stop_ = true;
  }
  stopped_.notify_all();
  thread_.join();
}

}  // namespace vesk::agentd
