#include "settings.h"

#include <errno.h>

#include <cstdio>

#include "logger.h"
#include "pn.h"
#include "settings_file_check.h"
#include "trusted_path.h"

namespace vesk {

Properties& loadSettings() {
  Properties& settings = Props(true);
  // A privileged process appends to the log file as root: only to a trusted path.
  const std::string logFile = settings.get(PN::LOG_FILE, std::string());
  std::string logRefusal;
  if (!logFile.empty() && privilegedProcess() && !trustedPath(logFile, TrustedUse::Append, logRefusal)) settings.set(PN::LOG_FILE, "");
  Logger::useSettings(settings);
  auto logger = Logger::GetLogger("vesk.props");
  const std::string refusal = settingsRefusal();
  if (!refusal.empty()) {
    std::fprintf(stderr, "%s: settings file %s; not used\n", program_invocation_short_name, refusal.c_str());
    logger->log(LogLevel::kError, "settings file %s; not used", refusal.c_str());
  }
  if (!logRefusal.empty()) {
    std::fprintf(stderr, "%s: log file %s; records go to syslog\n", program_invocation_short_name, logRefusal.c_str());
    logger->log(LogLevel::kError, "log file %s; records go to syslog", logRefusal.c_str());
  }
  if (!settings.malformedLines().empty()) {
    for (const auto& line : settings.malformedLines()) {
      logger->log(LogLevel::kWarning, "settings file %s: line %s; line skipped", settings.sourcePath().c_str(), line.c_str());
    }
  }
  return settings;
}

}  // namespace vesk
