#include "bounded_call.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace vesk::agentd {
namespace {

struct Outstanding {
  std::mutex mutex;
  std::condition_variable drained;
  std::size_t count = 0;
};

Outstanding& outstanding() {
  static Outstanding* instance = new Outstanding();  // leftovers may finish during exit
  return *instance;
}

struct Call {
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  bool abandoned = false;
  agentproto::Reply reply;
};

}  // namespace

std::optional<agentproto::Reply> runBounded(std::chrono::milliseconds timeout, std::function<agentproto::Reply()> work,
                                            bool& busy) {
  busy = false;
  {
    Outstanding& left = outstanding();
    std::lock_guard<std::mutex> guard(left.mutex);
    if (left.count >= kMaxOutstandingWork) {
      busy = true;
      return std::nullopt;
    }
  }
  auto call = std::make_shared<Call>();
  try {
    std::thread([call, work = std::move(work)] {
      agentproto::Reply reply = work();
      std::lock_guard<std::mutex> guard(call->mutex);
      call->reply = std::move(reply);
      call->done = true;
      call->finished.notify_one();
      if (call->abandoned) {
        Outstanding& left = outstanding();
        std::lock_guard<std::mutex> leftGuard(left.mutex);
        --left.count;
        left.drained.notify_all();
      }
    }).detach();
  } catch (const std::system_error&) {
    busy = true;
    return std::nullopt;
  }
  std::unique_lock<std::mutex> lock(call->mutex);
  if (call->finished.wait_for(lock, timeout, [&call] { return call->done; })) return std::move(call->reply);
  call->abandoned = true;
  Outstanding& left = outstanding();
  std::lock_guard<std::mutex> leftGuard(left.mutex);
  ++left.count;
  return std::nullopt;
}

std::size_t outstandingWork() {
  Outstanding& left = outstanding();
  std::lock_guard<std::mutex> guard(left.mutex);
  return left.count;
}

bool drainOutstandingWork(std::chrono::milliseconds timeout) {
  Outstanding& left = outstanding();
  std::unique_lock<std::mutex> lock(left.mutex);
  return left.drained.wait_for(lock, timeout, [&left] { return left.count == 0; });
}

}  // namespace vesk::agentd
