// Named loggers in a dotted hierarchy ("cli.tarvenko" under "cli" under the root).
//
// Each logger has a level and a memory level; kInherit takes the parent's. A record of level L is
// written when L is at least the effective level; it is kept in the in-memory ring of recent records
// when L is at least the effective memory level. Every record has one of the named LogLevel values;
// their numbers are what the records show and what the settings' level keys take.
// Levels and the sink come from the settings handed to useSettings (see pn.h); until then every
// logger has the defaults. Records go to syslog on the authpriv facility, with the program's base
// name as ident, or to the file the settings name (records that cannot be written there go to
// syslog). Control characters in a record are written as escapes ("\n", "\x1b"), so that one
// record is always one line whatever text it carries.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vesk {

class Properties;

// The one scale of record levels for the whole program.
enum class LogLevel : std::uint32_t {
  kProgress = 0,  // steps of work
  kDetail = 1,    // what failed inside a library call, for the operation's own record to follow
  kInfo = 2,      // outcomes: a success, a start, a stop
  kWarning = 3,   // refusals and failures the program classified
  kError = 4,     // errors
};

class Logger {
 public:
  static constexpr std::uint32_t kInherit = 0xFFFFFFFF;
  static constexpr std::uint32_t kDefaultRootLevel = 1;
  static constexpr std::uint32_t kDefaultRootMemoryLevel = 5;
  static constexpr std::size_t kMemoryRecords = 64;

  // The logger of that name, created on first use with its levels from the settings in use.
  static std::shared_ptr<Logger> GetLogger(const std::string& name);
  // Takes the levels and the sink from settings, for every existing logger and those made later.
  static void useSettings(const Properties& settings);
  // Records sent to syslog also go to standard error (a daemon in the foreground with no syslog
  // socket to write to).
  static void copySyslogToStandardError(bool copy);
  // The recent records kept by memory level, oldest first.
  static std::vector<std::string> recentRecords();

  const std::string& getName() const { return name_; }
  std::shared_ptr<Logger> getParent() const { return parent_; }

  std::uint32_t getLevel() const { return level_; }
  std::uint32_t getMemoryLevel() const { return memoryLevel_; }
  void setLevel(std::uint32_t level) { level_ = level; }
  void setMemoryLevel(std::uint32_t level) { memoryLevel_ = level; }
  std::uint32_t getEffectiveLevel() const;
  std::uint32_t getEffectiveMemoryLevel() const;

  // True when a record of this level would be written or kept.
  bool isEnabled(LogLevel level) const;

  void log(LogLevel level, const char* format, ...) __attribute__((format(printf, 3, 4)));

  Logger(std::string name, std::shared_ptr<Logger> parent);

 private:
  void configure(const Properties& settings);

  std::string name_;
  std::shared_ptr<Logger> parent_;
  std::uint32_t level_ = kInherit;
  std::uint32_t memoryLevel_ = kInherit;
};

}  // namespace vesk
