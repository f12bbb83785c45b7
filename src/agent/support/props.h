// The process-wide settings: a map from key to value text, read from the settings file.
//
// The file holds one "key: value" a line. Blank lines and lines whose first non-blank character is
// "#" are comments. Leading and trailing blanks of key and value are dropped; a value written in
// double quotes is taken verbatim between them (a prompt ending in a blank). A line without ":"
// or with an empty key is skipped and logged. A missing file gives empty settings.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace vesk {

// A lock on a mutex with explicit doLock/unLock; the destructor releases it if still held.
class Lock {
 public:
  explicit Lock(std::mutex& mutex) : mutex_(mutex) {}
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  ~Lock() { unLock(); }
  void doLock() {
    if (!held_) {
      mutex_.lock();
      held_ = true;
    }
  }
  void unLock() {
    if (held_) {
      mutex_.unlock();
      held_ = false;
    }
  }

 private:
  std::mutex& mutex_;
  bool held_ = false;
};

class Properties {
 public:
  using Map = std::map<std::string, std::string>;

  // sourcePath names the file the text came from in messages.
  static Properties fromText(const std::string& text, const std::string& sourcePath = std::string());

  Properties() = default;
  Properties(const Properties& other);
  Properties& operator=(const Properties& other);

  // The value of key, or fallback when the key is absent. A present empty value is returned as is.
  std::string get(const std::string& key, const std::string& fallback = std::string()) const;
  bool has(const std::string& key) const;
  void set(const std::string& key, const std::string& value);

  // The value of key as a number, or fallback when absent or not a whole number.
  long getNumber(const std::string& key, long fallback) const;

  std::mutex& mutex() const { return mutex_; }
  const Map& map() const { return map_; }
  const std::string& emptyText() const { return empty_; }
  const std::string& sourcePath() const { return path_; }
  // "LINE: reason" for each skipped line of the file, in file order.
  const std::vector<std::string>& malformedLines() const { return malformed_; }

 private:
  void parse(const std::string& text);

  Map map_;
  mutable std::mutex mutex_;
  std::string empty_;
  std::string path_;
  std::vector<std::string> malformed_;
};

// The settings file in force: kDefaultSettingsPath, or the file named by the environment variable
// kSettingsEnvVar when the process is not running with raised privileges. A privileged process
// (root, or a set-user-ID start) ignores a file that root does not own or that group or others may
// write (settings_file_check.h), and says so once on standard error and in the log.
std::string settingsPath();

// The process-wide settings, read once. reload=true reads the file again (tests and the agent use it).
Properties& Props(bool reload);

// Why the settings file was not used when it was last read ("PATH: reason"), or empty: a privileged
// process ignores a file that someone other than root can change (settings_file_check.h).
std::string settingsRefusal();
enum class SettingsFileState;
// How the settings file was found when it was last read.
SettingsFileState settingsFileState();

// The value of key in the process-wide settings, looked up under their lock; fallback when absent.
std::string lookupProperty(const char* key, const std::string& fallback);

// A lower-case copy of text (ASCII letters only).
std::string lower(const std::string& text);

}  // namespace vesk
