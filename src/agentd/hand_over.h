// Who settles a request that may change a password: its worker, by handing the change to the
// password server, or the watchdog, by answering the caller when the time limit passes first.
//
// Exactly one of the two claims wins. The worker claims right before the first byte of the change
// leaves; when the caller has already been answered it sends nothing, so that "the servers did not
// answer" always means the password was not changed. A watchdog that answers after the worker's
// claim must say the outcome is unknown.
#pragma once

#include <atomic>

namespace vesk::agentd {

class HandOver {
 public:
  // handedOver: the work is out of sight from the start (a helper process does it).
  explicit HandOver(bool handedOver = false) : state_(handedOver ? kHandedOver : kWorking) {}
  HandOver(const HandOver&) = delete;
  HandOver& operator=(const HandOver&) = delete;

  // The worker, before sending: true when it may send; false when the caller has its answer.
  bool claimForSending() {
    int expected = kWorking;
    return state_.compare_exchange_strong(expected, kHandedOver) || expected == kHandedOver;
  }
  // The watchdog, answering the caller: true when the change was handed over already (the outcome
  // is unknown); after it, claimForSending fails.
  bool claimForAnswer() {
    int expected = kWorking;
    return !state_.compare_exchange_strong(expected, kAnswered) && expected == kHandedOver;
  }
  bool handedOver() const { return state_.load() == kHandedOver; }

 private:
  enum : int { kWorking, kHandedOver, kAnswered };
  std::atomic<int> state_;
};

}  // namespace vesk::agentd
