// A shared library opened at run time, for features that most runs never use: the set-user-ID
// tool starts without them and loads them only when a run needs them.
#pragma once

#include <dlfcn.h>

namespace vesk {

class LoadedLibrary {
 public:
  // soname is searched in the system's library directories only when the process is set-user-ID
  // (the dynamic loader ignores the caller's library path then).
  explicit LoadedLibrary(const char* soname) : handle_(dlopen(soname, RTLD_NOW | RTLD_LOCAL)) {}
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;
  ~LoadedLibrary() {
    if (handle_ != nullptr) dlclose(handle_);
  }

  bool loaded() const { return handle_ != nullptr; }

  // The function name of type Function; null when the library is not loaded or lacks it.
  template <typename Function>
  Function* function(const char* name) const {
    return handle_ != nullptr ? reinterpret_cast<Function*>(dlsym(handle_, name)) : nullptr;
  }

 private:
  void* handle_;
};

}  // namespace vesk
