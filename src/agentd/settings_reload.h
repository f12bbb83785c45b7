// SIGHUP: the agent reads its settings file again while it serves.
//
// The signal is blocked in every thread and taken by one thread of its own with sigwait, so that
// the re-read runs as ordinary code (it allocates, takes locks and writes log records). A re-read
// applies the log levels, the log file and the agent's time limits and connection limit; a
// changed socket or realm is logged and takes effect when the agent starts again. A file that is
// refused or gone at the re-read leaves the settings in force.
#pragma once

#include <pthread.h>

#include <atomic>
#include <string>
#include <thread>

#include "agent_server.h"

namespace vesk::agentd {

class SettingsReloader {
 public:
  SettingsReloader() = default;
  SettingsReloader(const SettingsReloader&) = delete;
  SettingsReloader& operator=(const SettingsReloader&) = delete;
  ~SettingsReloader() { stop(); }

  // Blocks SIGHUP in the calling thread; call before any other thread starts, so that every
  // thread inherits the mask. False with the reason on failure.
  static bool blockSignal(std::string& why);

  // Starts the thread that waits for SIGHUP and applies the settings to server.
  bool start(AgentServer& server, std::string& why);
  // Ends the thread and waits for it.
  void stop();

 private:
  void waitLoop(AgentServer& server);

  std::thread thread_;
  std::atomic<bool> stopping_{false};
};

}  // namespace vesk::agentd
