// A growing delay for repeated wrong passwords of one account from one user.
//
// Without it the agent answers as fast as the KDC, and any local user could try passwords of any
// account through it at that speed. After a wrong password of an account from a user other than
// root, that user's next check of the same account waits kFirstDelay, doubling with each further
// wrong one up to kLongestDelay; a right password, or kQuietTime without a wrong one, starts the
// account afresh. Checks that arrive together wait in turn, none longer than kLongestDelay: one
// that would is refused. Root (the host's login services) never waits. Thread-safe.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

namespace vesk::agentd {

class ValidationDelay {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kFirstDelay{500};
  static constexpr std::chrono::milliseconds kLongestDelay{8000};
  static constexpr std::chrono::milliseconds kQuietTime{60000};

  // How long a check of account by uid must wait before it runs, now; the wait is booked, so the
  // next check of the same pair waits after it. Nothing when the check must be refused.
  std::optional<std::chrono::milliseconds> admit(uid_t uid, const std::string& account,
                                                 Clock::time_point now = Clock::now());
  // The outcome of a check: whether the password was wrong (anything else says nothing).
  void wrongPassword(uid_t uid, const std::string& account, Clock::time_point now = Clock::now());
  void rightPassword(uid_t uid, const std::string& account);

 private:
  struct Record {
    unsigned wrong = 0;
    Clock::time_point lastWrong;
    Clock::time_point notBefore;
  };
  static std::chrono::milliseconds delayAfter(unsigned wrong);
  void forgetQuietLocked(Clock::time_point now);

  std::mutex mutex_;
  std::map<std::pair<uid_t, std::string>, Record> records_;
};

}  // namespace vesk::agentd
