#include "settings.h"

#include <errno.h>

#include <cstdio>

#include "logger.h"

namespace vesk {

Properties& loadSettings() {
  Properties& settings = Props(true);
  Logger::useSettings(settings);
  const std::string refusal = settingsRefusal();
  if (!refusal.empty()) {
    std::fprintf(stderr, "%s: settings file %s; not used\n", program_invocation_short_name, refusal.c_str());
    Logger::GetLogger("vesk.props")->log(LogLevel::kError, "settings file %s; not used", refusal.c_str());
  }
  if (!settings.malformedLines().empty()) {
    const auto logger = Logger::GetLogger("vesk.props");
    for (const auto& line : settings.malformedLines()) {
      logger->log(LogLevel::kWarning, "settings file %s: line %s; line skipped", settings.sourcePath().c_str(), line.c_str());
    }
  }
  return settings;
}

}  // namespace vesk
