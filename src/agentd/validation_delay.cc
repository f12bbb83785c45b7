#include "validation_delay.h"

#include <algorithm>

namespace vesk::agentd {
namespace {

// Records kept before the quiet ones are swept out.
constexpr std::size_t kRecordsBeforeSweep = 4096;

}  // namespace

std::chrono::milliseconds ValidationDelay::delayAfter(unsigned wrong) {
  if (wrong == 0) return std::chrono::milliseconds(0);
  std::chrono::milliseconds delay = kFirstDelay;
  for (unsigned i = 1; i < wrong && delay < kLongestDelay; ++i) delay *= 2;
  return std::min(delay, kLongestDelay);
}

void ValidationDelay::forgetQuietLocked(Clock::time_point now) {
  for (auto it = records_.begin(); it != records_.end();) {
    if (now - it->second.lastWrong >= kQuietTime && it->second.notBefore <= now) {
      it = records_.erase(it);
    } else {
      ++it;
    }
  }
}

std::optional<std::chrono::milliseconds> ValidationDelay::admit(uid_t uid, const std::string& account,
                                                                Clock::time_point now) {
  if (uid == 0) return std::chrono::milliseconds(0);
  std::lock_guard<std::mutex> guard(mutex_);
  const auto found = records_.find({uid, account});
  if (found == records_.end()) return std::chrono::milliseconds(0);
  Record& record = found->second;
  if (now - record.lastWrong >= kQuietTime && record.notBefore <= now) {
    records_.erase(found);
    return std::chrono::milliseconds(0);
  }
  const Clock::time_point start = std::max(now, record.notBefore);
  if (start - now > kLongestDelay) return std::nullopt;
  record.notBefore = start + delayAfter(record.wrong);
  return std::chrono::ceil<std::chrono::milliseconds>(start - now);
}

void ValidationDelay::wrongPassword(uid_t uid, const std::string& account, Clock::time_point now) {
  if (uid == 0) return;
  std::lock_guard<std::mutex> guard(mutex_);
  if (records_.size() >= kRecordsBeforeSweep) forgetQuietLocked(now);
  Record& record = records_[{uid, account}];
  ++record.wrong;
  record.lastWrong = now;
  record.notBefore = std::max(record.notBefore, now + delayAfter(record.wrong));
}

void ValidationDelay::rightPassword(uid_t uid, const std::string& account) {
  std::lock_guard<std::mutex> guard(mutex_);
  records_.erase({uid, account});
}

}  // namespace vesk::agentd
