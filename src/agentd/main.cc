// kestrovad: the directory agent daemon. Runs in the foreground until SIGTERM or SIGINT; SIGHUP
// makes it read its settings again.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "agent_server.h"
#include "status_command.h"
#include "cache_helper.h"
#include "config_check.h"
#include "logger.h"
#include "props.h"
#include "settings_file_check.h"
#include "settings.h"
#include "settings_reload.h"
#include "unique_fd.h"

namespace {

constexpr const char* kVersionText = "kestrovad (Kestrova 4.4.3-424)";
constexpr const char* kSyslogSocket = "/dev/log";

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// The pipe that wakes the server to stop; the handler writes to its end by number.
vesk::UniqueFd stopReader;
vesk::UniqueFd stopWriter;
volatile sig_atomic_t stopWriterFd = -1;

void printUsage(std::FILE* out) {
  std::fprintf(out,
               "usage: kestrovad [--foreground] | status | --check-config | --version | --help\n"
               "The directory agent: serves the agent's socket in the foreground until SIGTERM;\n"
               "SIGHUP reads the settings again. Settings from KESTROVA_CONF or /etc/kestrova/kestrova.conf,\n"
               "Kerberos configuration from KRB5_CONFIG or /etc/krb5.conf.\n"
               "  --foreground    serve (the default; the agent never detaches)\n"
               "  status          ask the running agent for its state and its domain; exit 0 when connected\n"
               "  --check-config  check the settings file and the Kerberos configuration, then exit\n"
               "  --version       print the version and exit\n"
               "  --help          print this text and exit\n");
}

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

int fail(const std::string& why, int status) {
  std::fprintf(stderr, "kestrovad: %s\n", why.c_str());
  vesk::Logger::GetLogger("agentd")->log(vesk::LogLevel::kError, "cannot start: %s", why.c_str());
  return status;
}

bool syslogSocketPresent() {
  struct stat info;
  return stat(kSyslogSocket, &info) == 0 && S_ISSOCK(info.st_mode);
}

// Says on standard error what is wrong with the settings file; a file refused as untrustworthy
// has already been reported by the settings themselves.
void reportSettingsProblems(const vesk::Properties& settings) {
  if (vesk::settingsFileState() == vesk::SettingsFileState::Refused) return;
  vesk::SettingsFile file;
  file.props = settings;
  file.state = vesk::settingsFileState();
  vesk::agentd::ConfigReport report;
  vesk::agentd::checkSettingsFile(file, vesk::settingsPath(), report);
  for (const auto& problem : report.problems) std::fprintf(stderr, "kestrovad: %s\n", problem.c_str());
}

int serve() {
  std::string why;
  // Before any thread starts: every thread inherits the blocked SIGHUP.
  if (!vesk::agentd::SettingsReloader::blockSignal(why)) return fail(why, kExitFailure);
  if (!syslogSocketPresent()) vesk::Logger::copySyslogToStandardError(true);
  const vesk::Properties& props = vesk::loadSettings();
  reportSettingsProblems(props);
  vesk::agentd::ServerSettings settings;
  if (!vesk::agentd::readServerSettings(props, settings, why)) return fail(why, vesk::agentd::kExitConfiguration);
  if (!settings.hostKeytabRefusal.empty()) {
    std::fprintf(stderr, "kestrovad: host keytab %s; not used\n", settings.hostKeytabRefusal.c_str());
  }
  if (!installSignals(why)) return fail(why, kExitFailure);
  if (!vesk::agentd::prepareCacheHelper(why)) {
    vesk::Logger::GetLogger("agentd")->log(vesk::LogLevel::kError, "credential caches cannot be used: %s", why.c_str());
  }
  vesk::agentd::AgentServer server(settings);
  if (!server.listen(why)) return fail(why, kExitFailure);
  vesk::agentd::SettingsReloader reloader;
  if (!reloader.start(server, why)) return fail(why, kExitFailure);
  const bool ended = server.run(stopReader.get());
  reloader.stop();
  vesk::Logger::GetLogger("agentd")->log(vesk::LogLevel::kInfo, "stopped");
  // Threads still waiting inside the Kerberos library hold nothing that needs cleaning up: leave
  // without running destructors under them.
  if (!ended) _exit(0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], vesk::agentd::kCacheHelperArgument) == 0) {
    return vesk::agentd::cacheHelperMain(argc, argv);
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("%s\n", kVersionText);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    printUsage(stdout);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "status") == 0) return vesk::agentd::statusMain();
  if (argc == 2 && std::strcmp(argv[1], "--check-config") == 0) return vesk::agentd::runConfigCheck();
  if (argc > 2 || (argc == 2 && std::strcmp(argv[1], "--foreground") != 0)) {
    printUsage(stderr);
    return kExitUsage;
  }
  return serve();
}
