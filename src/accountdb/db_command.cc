#include "db_command.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "db_file.h"
#include "db_log.h"
#include "db_operator.h"
#include "db_records.h"
#include "process_spawn.h"
#include "unique_fd.h"

namespace vesk {
namespace {

// Runs program with stdin from /dev/null and the given output; -1 when /dev/null cannot be opened.
int spawnQuietly(const char* program, const char* const* arguments, int output) {
  UniqueFd input(::open(kNullDevicePath, O_RDONLY | O_CLOEXEC));
  UniqueFd sink(::open(kNullDevicePath, O_WRONLY | O_CLOEXEC));
  if (!input.valid() || !sink.valid()) return -1;
  const int fds[3] = {input.get(), output >= 0 ? output : sink.get(), sink.get()};
  return spawnfv(0, 3, fds, program, arguments);
}

DBCommandPrograms withDefaults(DBCommandPrograms programs, const DBCommandPrograms& defaults) {
  if (programs.snapshot == nullptr) programs.snapshot = defaults.snapshot;
  if (programs.add == nullptr) programs.add = defaults.add;
  if (programs.remove == nullptr) programs.remove = defaults.remove;
  return programs;
}

std::string decimal(std::uint32_t value) { return std::to_string(value); }

// Locks, opens and loads the operator's own storage, changes the record of entry's name and
// commits; false when any step fails or no record has the name.
template <typename Entry>
bool updateThroughOperator(const std::string& path, const Entry& entry) {
  DBOperator<Entry, DBFile> op(path);
  if (!op.lockOpenLoad()) return false;
  if (op.find(entry.name).isEmpty()) return false;
  if (!op.update(entry)) return false;
  return op.commit();
}

template <typename Entry>
bool parseRecord(const std::string& line, Entry& entry) {
  return entry.parse(line) && !entry.isEmpty();
}

}  // namespace

int runCommand(const char* program, const char* const* arguments) {
  std::string text;
  for (const char* const* argument = arguments; *argument != nullptr; ++argument) {
    text += *argument;
    text += ' ';
  }
  db::logger().log(db::kFailure, "executing command (%s)...", text.c_str());
  std::printf("executing command (%s)...\n", text.c_str());
  std::fflush(stdout);
  const int status = spawnQuietly(program, arguments, -1);
  if (status != 0) db::logger().log(db::kFailure, "command (%s) failed, rc = %d.", text.c_str(), status);
  return status;
}

DBCommandStorage::DBCommandStorage(const char* path, const DBCommandPrograms& programs, bool logSnapshotFailure)
    : DBStorage(path), programs(programs), logSnapshotFailure(logSnapshotFailure) {
  std::snprintf(tempName, sizeof tempName, "%s", kSnapshotTemplate);
  lineBuffer[0] = '\0';
}

DBCommandStorage::~DBCommandStorage() { close(); }

bool DBCommandStorage::isFile() const { return false; }

bool DBCommandStorage::lock() { return true; }

void DBCommandStorage::unlock() {}

bool DBCommandStorage::open() {
  if (opened) close();
  std::snprintf(tempName, sizeof tempName, "%s", kSnapshotTemplate);
  tempFd.reset(::mkostemp(tempName, O_CLOEXEC));
  if (!tempFd.valid()) {
    if (logSnapshotFailure) db::logger().log(db::kSystemFailure, "cannot create temporary file %s.", tempName);
    return false;
  }
  const char* const arguments[] = {programs.snapshot, path.c_str(), nullptr};
  if (spawnQuietly(programs.snapshot, arguments, tempFd.get()) == 0) {
    tempStream.reset(::fdopen(tempFd.get(), "r"));
    if (tempStream != nullptr) {
      tempFd.release();  // the stream owns it now
      opened = true;
      first();
      return true;
    }
  }
  close();
  return false;
}

void DBCommandStorage::close() {
  setEndOfData();
  opened = false;
  if (tempStream != nullptr || tempFd.valid()) {
    tempStream.reset();
    tempFd.reset();
    ::unlink(tempName);
  }
}

bool DBCommandStorage::first() {
  if (tempStream == nullptr) {
    setEndOfData();
    return false;
  }
  std::rewind(tempStream.get());
  return next();
}

bool DBCommandStorage::next() {
  if (tempStream == nullptr) {
    setEndOfData();
    return false;
  }
  do {
    if (std::fgets(lineBuffer, sizeof lineBuffer, tempStream.get()) == nullptr) {
      setEndOfData();
      return false;
    }
  } while (lineBuffer[0] == '+' || lineBuffer[0] == '-');
  std::size_t length = std::strlen(lineBuffer);
  if (length > 0 && lineBuffer[length - 1] == '\n') --length;
  setRecord(std::string_view(lineBuffer, length));
  return true;
}

DBPwCommand::DBPwCommand(const char* path, DBCommandPrograms programs)
    : DBCommandStorage(path, withDefaults(programs, defaultPrograms()), true) {}

DBCommandPrograms DBPwCommand::defaultPrograms() {
  return DBCommandPrograms{kCatProgramPath, kUseraddProgramPath, kUserdelProgramPath};
}

bool DBPwCommand::add(const std::string& line) {
  DBPasswd user;
  if (!parseRecord(line, user)) return false;
  const std::string uid = decimal(user.uid);
  const std::string gid = decimal(user.gid);
  const char* const arguments[] = {programs.add, "-u", uid.c_str(), "-g", gid.c_str(), "-c", user.gecos.c_str(),
                                   "-d", user.home.c_str(), "-s", user.shell.c_str(), user.name.c_str(), nullptr};
  return runCommand(programs.add, arguments) == 0;
}

bool DBPwCommand::remove(const std::string& line) {
  DBPasswd user;
  if (!parseRecord(line, user)) return false;
  const char* const arguments[] = {programs.remove, user.name.c_str(), nullptr};
  return runCommand(programs.remove, arguments) == 0;
}

bool DBPwCommand::update(const std::string& line) {
  DBPasswd user;
  if (!parseRecord(line, user)) return false;
  return updateThroughOperator(path, user);
}

DBGrCommand::DBGrCommand(const char* path, DBCommandPrograms programs)
    : DBCommandStorage(path, withDefaults(programs, defaultPrograms()), false) {}

DBCommandPrograms DBGrCommand::defaultPrograms() {
  return DBCommandPrograms{kCatProgramPath, kGroupaddProgramPath, kGroupdelProgramPath};
}

bool DBGrCommand::add(const std::string& line) {
  DBGroup group;
  if (!parseRecord(line, group)) return false;
  const std::string gid = decimal(group.gid);
  const char* const arguments[] = {programs.add, "-g", gid.c_str(), group.name.c_str(), nullptr};
  return runCommand(programs.add, arguments) == 0;
}

bool DBGrCommand::remove(const std::string& line) {
  DBGroup group;
  if (!parseRecord(line, group)) return false;
  const char* const arguments[] = {programs.remove, group.name.c_str(), nullptr};
  return runCommand(programs.remove, arguments) == 0;
}

bool DBGrCommand::update(const std::string& line) {
  DBGroup group;
  if (!parseRecord(line, group)) return false;
  return updateThroughOperator(path, group);
}

}  // namespace vesk
