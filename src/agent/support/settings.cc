#include "settings.h"

#include "logger.h"

namespace vesk {

Properties& loadSettings() {
  Properties& settings = Props(true);
  Logger::useSettings(settings);
  if (!settings.malformedLines().empty()) {
    auto logger = Logger::GetLogger("vesk.props");
    for (const auto& line : settings.malformedLines()) {
      if (logger) logger->log(3, "settings file %s: line %s; line skipped", settings.sourcePath().c_str(), line.c_str());
    }
  }
  return settings;
}

}  // namespace vesk
