#include "settings_reload.h"

#include <errno.h>
#include <signal.h>

#include <cstring>
#include <system_error>

#include "logger.h"
#include "props.h"
#include "settings.h"
#include "settings_file_check.h"

namespace vesk::agentd {
namespace {

sigset_t hangUpSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

bool SettingsReloader::blockSignal(std::string& why) {
  const sigset_t set = hangUpSet();
  const int error = pthread_sigmask(SIG_BLOCK, &set, nullptr);
  if (error != 0) {
    why = std::string("cannot block SIGHUP: ") + std::strerror(error);
    return false;
  }
  return true;
}

bool SettingsReloader::start(AgentServer& server, std::string& why) {
  try {
    thread_ = std::thread([this, &server] { waitLoop(server); });
  } catch (const std::system_error& e) {
    why = std::string("cannot start the settings thread: ") + e.what();
    return false;
  }
  return true;
}

void SettingsReloader::stop() {
  if (!thread_.joinable()) return;
  stopping_ = true;
  // The thread takes this SIGHUP from its own pending set and sees stopping_.
  pthread_kill(thread_.native_handle(), SIGHUP);
  thread_.join();
}

void SettingsReloader::waitLoop(AgentServer& server) {
  const sigset_t set = hangUpSet();
  for (;;) {
    int signal = 0;
    if (sigwait(&set, &signal) != 0) continue;
    if (stopping_) return;
    const auto logger = Logger::GetLogger("agentd");
    // A file that cannot be used now (refused, or gone) leaves the settings in force as they are:
    // a re-read must not move the log or drop the limits.
    const SettingsFile file = readSettingsFile(settingsPath(), privilegedProcess());
    if (file.state != SettingsFileState::Used) {
      logger->log(LogLevel::kWarning, "settings re-read from %s: %s; serving on with the settings in force",
                  settingsPath().c_str(), file.state == SettingsFileState::Missing ? "no such file" : file.problem.c_str());
      continue;
    }
    const Properties& props = loadSettings();
    ServerSettings fresh;
    std::string why;
    if (!readServerSettings(props, fresh, why)) {
      logger->log(LogLevel::kWarning, "settings re-read from %s: %s; serving on as before", settingsPath().c_str(), why.c_str());
      continue;
    }
    if (server.applySettings(fresh)) {
      logger->log(LogLevel::kInfo, "settings re-read from %s", settingsPath().c_str());
    } else {
      logger->log(LogLevel::kWarning, "settings re-read from %s; the new socket, realm or domain take effect when the agent starts again",
                  settingsPath().c_str());
    }
  }
}

}  // namespace vesk::agentd
