// Records of refused connections, one per burst from a user.
//
// A user who reconnects in a loop beyond its share would otherwise have the agent write a record
// per connection: the log would grow, and the agent would spend its time writing it, as fast as
// the user can connect. The first refusal of a user is logged with its reason; the refusals that
// follow within kBurst are only counted, and one record names their number when the burst is
// over (at the next refusal after it, or when the owner calls flush). Thread-safe.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "logger.h"

namespace vesk::agentd {

class RefusalLog {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::seconds kBurst{10};

  explicit RefusalLog(std::shared_ptr<Logger> logger) : logger_(std::move(logger)) {}

  // A refused connection of uid (process pid) and why. True when it began a burst: the caller
  // should then call flush once kBurst has passed.
  bool refused(uid_t uid, pid_t pid, const std::string& why, Clock::time_point now = Clock::now());
  // Writes the count of every burst that is over, and forgets it.
  void flush(Clock::time_point now = Clock::now());

 private:
  struct Burst {
    Clock::time_point start;
    unsigned long counted = 0;  // refusals after the first
    std::string why;            // the latest reason
  };
  void writeCountLocked(uid_t uid, const Burst& burst);

  std::shared_ptr<Logger> logger_;
  std::mutex mutex_;
  std::map<uid_t, Burst> bursts_;
};

}  // namespace vesk::agentd
