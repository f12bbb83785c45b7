#include "refusal_log.h"

namespace vesk::agentd {

void RefusalLog::writeCountLocked(uid_t uid, const Burst& burst) {
  if (burst.counted == 0) return;
  logger_->log(LogLevel::kWarning, "uid=%u account=- operation=- outcome=refused: %lu more connections in %lld s, the last: %s",
               static_cast<unsigned>(uid), burst.counted, static_cast<long long>(kBurst.count()), burst.why.c_str());
}

bool RefusalLog::refused(uid_t uid, pid_t pid, const std::string& why, Clock::time_point now) {
  std::lock_guard<std::mutex> guard(mutex_);
  const auto found = bursts_.find(uid);
  if (found != bursts_.end() && now - found->second.start < kBurst) {
    ++found->second.counted;
    found->second.why = why;
    return false;
  }
  if (found != bursts_.end()) writeCountLocked(uid, found->second);
  bursts_[uid] = Burst{now, 0, std::string()};
  logger_->log(LogLevel::kWarning, "uid=%u pid=%d account=- operation=- outcome=refused: %s; further refusals of this user counted",
               static_cast<unsigned>(uid), static_cast<int>(pid), why.c_str());
  return true;
}

void RefusalLog::flush(Clock::time_point now) {
  std::lock_guard<std::mutex> guard(mutex_);
  for (auto it = bursts_.begin(); it != bursts_.end();) {
    if (now - it->second.start < kBurst) {
      ++it;
      continue;
    }
    writeCountLocked(it->first, it->second);
    it = bursts_.erase(it);
  }
}

}  // namespace vesk::agentd
