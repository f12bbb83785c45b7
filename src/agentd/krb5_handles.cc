#include "krb5_handles.h"

namespace vesk::agentd {
namespace {

constexpr std::size_t kPooledContexts = 32;

}  // namespace

krb5_context ContextPool::take(krb5_error_code& code) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!idle_.empty()) {
      krb5_context context = idle_.back();
      idle_.pop_back();
      code = 0;
      return context;
    }
  }
  krb5_context context = nullptr;
  code = krb5_init_context(&context);
  return code == 0 ? context : nullptr;
}

void ContextPool::give(krb5_context context) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (idle_.size() < kPooledContexts) {
    krb5_clear_error_message(context);
    idle_.push_back(context);
    return;
  }
  krb5_free_context(context);
}

ContextPool& pool() {
  static ContextPool* instance = new ContextPool();
  return *instance;
}

}  // namespace vesk::agentd
