// kestrovad: the directory agent daemon. Runs in the foreground until SIGTERM or SIGINT.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "agent_server.h"
#include "agent_status.h"
#include "cache_helper.h"
#include "logger.h"
#include "settings.h"
#include "unique_fd.h"

namespace {

// The pipe that wakes the server to stop; the handler writes to its end by number.
vesk::UniqueFd stopReader;
vesk::UniqueFd stopWriter;
volatile sig_atomic_t stopWriterFd = -1;

void requestStop(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t ignored = write(stopWriterFd, &byte, 1);
  errno = saved;
}

bool installSignals(std::string& why) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
    why = std::string("cannot create a pipe: ") + std::strerror(errno);
    return false;
  }
  stopReader.reset(ends[0]);
  stopWriter.reset(ends[1]);
  stopWriterFd = ends[1];
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = requestStop;
  sigemptyset(&action.sa_mask);
  struct sigaction ignore;
  std::memset(&ignore, 0, sizeof ignore);
  ignore.sa_handler = SIG_IGN;
  if (sigaction(SIGTERM, &action, nullptr) != 0 || sigaction(SIGINT, &action, nullptr) != 0 ||
      sigaction(SIGPIPE, &ignore, nullptr) != 0) {
    why = std::string("cannot install signal handlers: ") + std::strerror(errno);
    return false;
  }
  return true;
}

int fail(const std::string& why) {
  std::fprintf(stderr, "kestrovad: %s\n", why.c_str());
  if (auto logger = vesk::Logger::GetLogger("agentd")) logger->log(4, "cannot start: %s", why.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], vesk::agentd::kCacheHelperArgument) == 0) {
    return vesk::agentd::cacheHelperMain(argc, argv);
  }
  if (argc == 2 && std::strcmp(argv[1], "status") == 0) return vesk::agentd::statusMain();
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--foreground") != 0) {
      std::fprintf(stderr, "usage: kestrovad [--foreground]\n       kestrovad status\n"
                           "Serves the directory agent's socket in the foreground; settings from "
                           "KESTROVA_CONF or /etc/kestrova/kestrova.conf.\n");
      return 2;
    }
  }
  vesk::loadSettings();
  std::string why;
  vesk::agentd::ServerSettings settings;
  if (!vesk::agentd::ServerSettings::fromProps(settings, why)) return fail(why);
  if (!installSignals(why) || !vesk::agentd::prepareCacheHelper(why)) return fail(why);
  vesk::agentd::AgentServer server(settings);
  if (!server.listen(why)) return fail(why);
  const bool ended = server.run(stopReader.get());
  if (auto logger = vesk::Logger::GetLogger("agentd")) logger->log(2, "stopped");
  // Threads still waiting inside the Kerberos library hold nothing that needs cleaning up: leave
  // without running destructors under them.
  if (!ended) _exit(0);
  return 0;
}
