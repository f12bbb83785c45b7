#include "props.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <sstream>

#include "paths.h"
#include "settings_file_check.h"

namespace vesk {
namespace {

std::string trim(const std::string& text) {
  const char* blanks = " \t\r";
  const auto first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return std::string();
  const auto last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

}  // namespace

Properties::Properties(const Properties& other)
    : map_(other.map_), path_(other.path_), malformed_(other.malformed_) {}

Properties& Properties::operator=(const Properties& other) {
  if (this != &other) {
    std::scoped_lock both(mutex_, other.mutex_);
    map_ = other.map_;
    path_ = other.path_;
    malformed_ = other.malformed_;
  }
  return *this;
}

Properties Properties::fromText(const std::string& text, const std::string& sourcePath) {
  Properties props;
  props.path_ = sourcePath;
  props.parse(text);
  return props;
}

void Properties::parse(const std::string& text) {
  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    const std::string content = trim(line);
    if (content.empty() || content[0] == '#') continue;
    const auto colon = content.find(':');
    if (colon == std::string::npos) {
      malformed_.push_back(std::to_string(number) + ": no ':' between key and value");
      continue;
    }
    std::string key = trim(content.substr(0, colon));
    if (key.empty()) {
      malformed_.push_back(std::to_string(number) + ": empty key");
      continue;
    }
    std::string value = trim(content.substr(colon + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    map_[key] = value;
  }
}

std::string Properties::get(const std::string& key, const std::string& fallback) const {
  Lock lock(mutex_);
  lock.doLock();
  const auto found = map_.find(key);
  const bool present = found != map_.end();
  std::string value = present ? found->second : fallback;
  lock.unLock();
  return value;
}

bool Properties::has(const std::string& key) const {
  Lock lock(mutex_);
  lock.doLock();
  return map_.count(key) != 0;
}

void Properties::set(const std::string& key, const std::string& value) {
  Lock lock(mutex_);
  lock.doLock();
  map_[key] = value;
}

long Properties::getNumber(const std::string& key, long fallback) const {
  const std::string text = get(key, std::string());
  if (text.empty()) return fallback;
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str() || *end != '\0') return fallback;
  return value;
}

std::string settingsPath() {
  const char* override = secure_getenv(kSettingsEnvVar);
  if (override != nullptr && *override != '\0') return override;
  return kDefaultSettingsPath;
}

namespace {

// How the settings file was found when it was last read.
struct LastRead {
  SettingsFileState state = SettingsFileState::Missing;
  std::string refusal;
};

LastRead& lastRead() {
  static LastRead last;
  return last;
}

Properties load() {
  SettingsFile file = readSettingsFile(settingsPath(), privilegedProcess());
  lastRead() = {file.state, file.problem};
  return file.props;
}

}  // namespace

Properties& Props(bool reload) {
  bool readNow = false;
  static Properties settings = (readNow = true, load());
  // The first call has just read the file, whatever it asked for.
  if (reload && !readNow) settings = load();
  return settings;
}

std::string settingsRefusal() { return lastRead().refusal; }

SettingsFileState settingsFileState() { return lastRead().state; }

std::string lookupProperty(const char* key, const std::string& fallback) {
  return Props(false).get(key, fallback);
}

std::string lower(const std::string& text) {
  std::string result(text);
  for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return result;
}

}  // namespace vesk
