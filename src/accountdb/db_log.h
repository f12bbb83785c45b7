// The logger of the account file database and its failure records.
#pragma once

#include <string>

#include "logger.h"

namespace vesk::db {

inline constexpr const char* kLoggerName = "cli.passwddb";

// Levels: progress at 0, failures at 1, system-lock failures at 3.
inline constexpr std::uint32_t kProgress = 0;
inline constexpr std::uint32_t kFailure = 1;
inline constexpr std::uint32_t kSystemFailure = 3;

Logger& logger();

// What failed in a file operation: the call, the file it was made on, and errno.
struct IoFailure {
  const char* operation = "";
  std::string file;
  int error = 0;

  bool set(const char* op, const std::string& name, int err) {
    operation = op;
    file = name;
    error = err;
    return false;
  }
};

// "<operation> of <file> failed: <reason>" (no final period).
std::string describe(const IoFailure& failure);

// Logs describe(failure) and a period at level 1.
void logFailure(const IoFailure& failure);

}  // namespace vesk::db
