// The logger of the account file database and its failure records.
#pragma once

#include <string>

#include "logger.h"

namespace vesk::db {

inline constexpr const char* kLoggerName = "cli.passwddb";

// The library's records on the program's scale: progress, the failure of a step (the caller's
// own record says what it meant), and failures of the system's lock and temporary files.
inline constexpr LogLevel kProgress = LogLevel::kProgress;
inline constexpr LogLevel kFailure = LogLevel::kDetail;
inline constexpr LogLevel kSystemFailure = LogLevel::kWarning;

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

// Logs describe(failure) and a period at kFailure.
void logFailure(const IoFailure& failure);

}  // namespace vesk::db
