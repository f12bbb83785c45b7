#include "bounded_call.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace vesk::agentd {
namespace {

// Threads that have run a Kerberos exchange are kept: a thread's first exchange pays for the
// crypto library's per-thread set-up, which costs about as much as the exchange itself.
constexpr std::size_t kMaxWorkers = 128;
constexpr std::size_t kIdleWorkersKept = 16;
constexpr auto kIdleWorkerLife = std::chrono::seconds(30);

struct Call {
  std::function<agentproto::Reply()> work;
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  bool abandoned = false;
  agentproto::Reply reply;
};

class WorkerPool {
 public:
  // Queues the call; false when no worker is free and none may be added.
  bool submit(std::shared_ptr<Call> call) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (idle_ <= queue_.size()) {
      if (workers_ >= kMaxWorkers) return false;
      try {
        std::thread([this] { serve(); }).detach();
      } catch (const std::system_error&) {
        return false;
      }
      ++workers_;
      ++idle_;
    }
    queue_.push_back(std::move(call));
    ready_.notify_one();
    return true;
  }

  std::size_t outstanding() {
    std::lock_guard<std::mutex> guard(mutex_);
    return abandoned_;
  }
  void abandon() {
    std::lock_guard<std::mutex> guard(mutex_);
    ++abandoned_;
  }
  bool drain(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return drained_.wait_for(lock, timeout, [this] { return abandoned_ == 0; });
  }

 private:
  void serve() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (!ready_.wait_for(lock, kIdleWorkerLife, [this] { return !queue_.empty(); })) {
        if (idle_ > kIdleWorkersKept) break;
        continue;
      }
      std::shared_ptr<Call> call = std::move(queue_.front());
      queue_.pop_front();
      --idle_;
      lock.unlock();
      run(*call);
      call.reset();
      lock.lock();
      ++idle_;
    }
    --idle_;
    --workers_;
  }

  void run(Call& call) {
    {
      std::lock_guard<std::mutex> guard(call.mutex);
      if (call.abandoned) {
        // Its caller has stopped waiting before it started: do not start it at all.
        finishAbandoned();
        return;
      }
    }
    agentproto::Reply reply = call.work();
    std::lock_guard<std::mutex> guard(call.mutex);
    call.reply = std::move(reply);
    call.done = true;
    call.finished.notify_one();
    if (call.abandoned) finishAbandoned();
  }

  void finishAbandoned() {
    std::lock_guard<std::mutex> guard(mutex_);
    --abandoned_;
    drained_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable ready_;
  std::condition_variable drained_;
  std::deque<std::shared_ptr<Call>> queue_;
  std::size_t workers_ = 0;
  std::size_t idle_ = 0;
  std::size_t abandoned_ = 0;
};

WorkerPool& pool() {
  static WorkerPool* instance = new WorkerPool();  // workers may still run during exit
  return *instance;
}

}  // namespace

std::optional<agentproto::Reply> runBounded(std::chrono::milliseconds timeout, std::function<agentproto::Reply()> work,
                                            bool& busy) {
  busy = false;
  WorkerPool& workers = pool();
  if (workers.outstanding() >= kMaxOutstandingWork) {
    busy = true;
    return std::nullopt;
  }
  auto call = std::make_shared<Call>();
  call->work = std::move(work);
  if (!workers.submit(call)) {
    busy = true;
    return std::nullopt;
  }
  std::unique_lock<std::mutex> lock(call->mutex);
  if (call->finished.wait_for(lock, timeout, [&call] { return call->done; })) return std::move(call->reply);
  call->abandoned = true;
  workers.abandon();
  return std::nullopt;
}

std::size_t outstandingWork() { return pool().outstanding(); }

bool drainOutstandingWork(std::chrono::milliseconds timeout) { return pool().drain(timeout); }

}  // namespace vesk::agentd
