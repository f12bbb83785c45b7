#include "logger.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>

#include "fd_io.h"
#include "pn.h"
#include "props.h"
#include "unique_fd.h"

namespace vesk {
namespace {

struct Registry {
  std::mutex mutex;
  Properties settings;  // the levels and the sink in use
  std::map<std::string, std::shared_ptr<Logger>> loggers;
  std::deque<std::string> recent;
  bool syslogOpen = false;
  bool copyToStandardError = false;
};

Registry& registry() {
  static Registry* instance = new Registry();  // never destroyed: loggers outlive static destructors
  return *instance;
}

std::string parentName(const std::string& name) {
  const auto dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(0, dot);
}

std::uint32_t levelSetting(const Properties& props, const std::string& key, std::uint32_t fallback) {
  const long value = props.getNumber(key, -1);
  return value < 0 ? fallback : static_cast<std::uint32_t>(value);
}

int syslogPriority(LogLevel level) {
  switch (level) {
    case LogLevel::kProgress: return LOG_DEBUG;
    case LogLevel::kDetail: return LOG_INFO;
    case LogLevel::kInfo: return LOG_NOTICE;
    case LogLevel::kWarning: return LOG_WARNING;
    case LogLevel::kError: break;
  }
  return LOG_ERR;
}

// Control characters shown as escapes: whatever a caller puts into a name, an argument or a server's
// text, one record stays one line.
std::string escapeControls(const char* text) {
  std::string shown;
  for (const char* p = text; *p != '\0'; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c >= 0x20 && c != 0x7f) {
      shown += *p;
    } else if (c == '\n') {
      shown += "\\n";
    } else if (c == '\t') {
      shown += "\\t";
    } else if (c == '\r') {
      shown += "\\r";
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      shown += escaped;
    }
  }
  return shown;
}

// The program's name as records show it; fixed at first use (openlog keeps the pointer).
const std::string& programName() {
  static const std::string* name = new std::string(escapeControls(program_invocation_short_name));
  return *name;
}

// False when the record did not reach the file (the caller then sends it to syslog). The file's
// directories were checked when the settings were taken (settings.cc); only a regular file is
// written, and a FIFO put in its place does not hold the process.
bool writeToFile(const std::string& path, const std::string& line) {
  UniqueFd fd(open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0600));
  if (!fd.valid()) return false;
  struct stat info;
  if (fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  const bool written = writeAll(fd.get(), line.data(), line.size());
  return fd.close() && written;
}

}  // namespace

Logger::Logger(std::string name, std::shared_ptr<Logger> parent)
    : name_(std::move(name)), parent_(std::move(parent)) {}

std::shared_ptr<Logger> Logger::GetLogger(const std::string& name) {
  Registry& reg = registry();
  std::shared_ptr<Logger> parent;
  if (!name.empty()) parent = GetLogger(parentName(name));
  std::lock_guard<std::mutex> guard(reg.mutex);
  auto& slot = reg.loggers[name];
  if (!slot) {
    slot = std::make_shared<Logger>(name, parent);
    slot->configure(reg.settings);
  }
  return slot;
}

void Logger::configure(const Properties& props) {
  if (name_.empty()) {
    level_ = levelSetting(props, PN::LOG_LEVEL, kDefaultRootLevel);
    memoryLevel_ = levelSetting(props, PN::LOG_MEMLEVEL, kDefaultRootMemoryLevel);
  } else {
    level_ = levelSetting(props, std::string(PN::LOG_LEVEL) + "." + name_, kInherit);
    memoryLevel_ = levelSetting(props, std::string(PN::LOG_MEMLEVEL) + "." + name_, kInherit);
  }
}

void Logger::useSettings(const Properties& settings) {
  Registry& reg = registry();
  std::lock_guard<std::mutex> guard(reg.mutex);
  reg.settings = settings;
  for (auto& entry : reg.loggers) entry.second->configure(reg.settings);
}

void Logger::copySyslogToStandardError(bool copy) {
  Registry& reg = registry();
  std::lock_guard<std::mutex> guard(reg.mutex);
  reg.copyToStandardError = copy;
  reg.syslogOpen = false;
}

std::vector<std::string> Logger::recentRecords() {
  Registry& reg = registry();
  std::lock_guard<std::mutex> guard(reg.mutex);
  return {reg.recent.begin(), reg.recent.end()};
}

std::uint32_t Logger::getEffectiveLevel() const {
  for (const Logger* logger = this; logger != nullptr; logger = logger->parent_.get()) {
    if (logger->level_ != kInherit) return logger->level_;
  }
  return kDefaultRootLevel;
}

std::uint32_t Logger::getEffectiveMemoryLevel() const {
  for (const Logger* logger = this; logger != nullptr; logger = logger->parent_.get()) {
    if (logger->memoryLevel_ != kInherit) return logger->memoryLevel_;
  }
  return kDefaultRootMemoryLevel;
}

bool Logger::isEnabled(LogLevel level) const {
  const auto number = static_cast<std::uint32_t>(level);
  return number >= getEffectiveLevel() || number >= getEffectiveMemoryLevel();
}

void Logger::log(LogLevel level, const char* format, ...) {
  const auto number = static_cast<std::uint32_t>(level);
  const bool toSink = number >= getEffectiveLevel();
  const bool toMemory = number >= getEffectiveMemoryLevel();
  if (!toSink && !toMemory) return;

  char text[2048];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  const std::string shown = escapeControls(text);
  const char* message = shown.c_str();

  const std::string shownName = name_.empty() ? "root" : name_;
  Registry& reg = registry();
  if (toMemory) {
    std::lock_guard<std::mutex> guard(reg.mutex);
    reg.recent.push_back(shownName + " " + std::to_string(number) + ": " + message);
    if (reg.recent.size() > kMemoryRecords) reg.recent.pop_front();
  }
  if (!toSink) return;

  std::string file;
  {
    std::lock_guard<std::mutex> guard(reg.mutex);
    file = reg.settings.get(PN::LOG_FILE, std::string());
  }
  if (!file.empty()) {
    char stamp[32] = "";
    const time_t now = time(nullptr);
    struct tm local;
    if (localtime_r(&now, &local) != nullptr) strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &local);
    char head[128];
    snprintf(head, sizeof head, "%s %s[%ld]: ", stamp, programName().c_str(), static_cast<long>(getpid()));
    if (writeToFile(file, std::string(head) + shownName + " " + std::to_string(number) + ": " + message + "\n")) {
      return;
    }
    // A caller who cannot write the file (a set-user-ID run that has dropped its privileges)
    // must not lose the record.
  }
  {
    std::lock_guard<std::mutex> guard(reg.mutex);
    if (!reg.syslogOpen) {
      openlog(programName().c_str(), LOG_PID | (reg.copyToStandardError ? LOG_PERROR : 0), LOG_AUTHPRIV);
      reg.syslogOpen = true;
    }
  }
  syslog(LOG_AUTHPRIV | syslogPriority(level), "%s %u: %s", shownName.c_str(), number, message);
}

}  // namespace vesk
