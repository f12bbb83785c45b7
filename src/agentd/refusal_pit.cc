#include "refusal_pit.h"

#include <system_error>

#include "logger.h"

namespace vesk::agentd {

RefusalPit::RefusalPit(std::chrono::milliseconds holdTime,
                       std::function<void(int, const Peer&, const std::string&)> refuse)
    : holdTime_(holdTime), refuse_(std::move(refuse)) {
  try {
    thread_ = std::thread([this] { loop(); });
  } catch (const std::system_error& e) {
    // Without the thread every refusal is sent at once.
    stop_ = true;
    Logger::GetLogger("agentd")->log(LogLevel::kError, "cannot start the refusal thread: %s", e.what());
  }
}

RefusalPit::~RefusalPit() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool RefusalPit::hold(UniqueFd& fd, const Peer& peer, const std::string& why) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (stop_ || held_.size() >= kMaxHeld) return false;
    held_.push_back(Held{std::move(fd), peer, why, Clock::now() + holdTime_});
  }
  changed_.notify_all();
  return true;
}

void RefusalPit::loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (held_.empty() && stop_) return;
    if (held_.empty()) {
      changed_.wait(lock);
      continue;
    }
    if (!stop_ && Clock::now() < held_.front().due) {
      changed_.wait_until(lock, held_.front().due);
      continue;
    }
    Held due = std::move(held_.front());
    held_.pop_front();
    lock.unlock();
    refuse_(due.fd.get(), due.peer, due.why);
    due.fd.reset();
    lock.lock();
  }
}

}  // namespace vesk::agentd
