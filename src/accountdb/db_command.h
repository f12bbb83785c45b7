// Storages that leave the account files to the system's account commands: DBPwCommand (users)
// and DBGrCommand (groups), and runCommand, which runs one command.
//
// Reading goes through a private snapshot of the account file, made by running "/bin/cat" into a
// mkstemp file under /tmp that exists only while the storage is open; "+" and "-" lines are
// skipped. add and remove run useradd/userdel (groupadd/groupdel) with the record's fields, each as
// one argument and never through a shell; update edits the account file through an operator, with
// its locks and safe replacement. lock and unlock do nothing; write is refused.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "account_paths.h"
#include "db_storage.h"
#include "unique_fd.h"

namespace vesk {

// Runs program with arguments (a null-terminated vector whose first element is the program path
// again), with standard input from and output and error to /dev/null. The command is announced
// as "executing command (ARGS )..." in the log (level 1) and on standard output, each argument
// followed by one space. Returns the command's status as spawnfv reports it (0 is success); a
// status other than 0 is logged as "command (ARGS ) failed, rc = STATUS.".
int runCommand(const char* program, const char* const* arguments);

// The programs a command storage runs; those left null are the system's own (account_paths.h).
struct DBCommandPrograms {
  const char* snapshot = kCatProgramPath;
  const char* add = nullptr;     // useradd or groupadd
  const char* remove = nullptr;  // userdel or groupdel
};

// Closes a stream (and with it its descriptor).
struct StreamCloser {
  void operator()(std::FILE* stream) const { std::fclose(stream); }
};

// What the two command storages share: the snapshot and its reading.
class DBCommandStorage : public DBStorage {
 public:
  ~DBCommandStorage() override;

  bool isFile() const override;
  // Takes a new snapshot of the account file and makes its first record current.
  bool open() override;
  // Deletes the snapshot.
  void close() override;
  bool lock() override;
  void unlock() override;
  bool first() override;
  bool next() override;

  // Name of the snapshot file while open (for tests); the template before the first open.
  const char* snapshotName() const { return tempName; }

 protected:
  // path: the account file (snapshot source and file that update edits).
  DBCommandStorage(const char* path, const DBCommandPrograms& programs, bool logSnapshotFailure);

  DBCommandPrograms programs;

 private:
  bool logSnapshotFailure;
  char tempName[256];
  UniqueFd tempFd;
  std::unique_ptr<std::FILE, StreamCloser> tempStream;
  char lineBuffer[1024];
};

// Users. add runs: useradd -u UID -g GID -c GECOS -d HOME -s SHELL NAME; remove runs: userdel NAME.
class DBPwCommand : public DBCommandStorage {
 public:
  // path: the passwd file that is read and that update edits.
  explicit DBPwCommand(const char* path = kAccountPasswdPath, DBCommandPrograms programs = defaultPrograms());
  static DBCommandPrograms defaultPrograms();

  // Each takes one passwd line.
  bool update(const std::string& line) override;
  bool add(const std::string& line) override;
  bool remove(const std::string& line) override;
};

// Groups. add runs: groupadd -g GID NAME; remove runs: groupdel NAME.
class DBGrCommand : public DBCommandStorage {
 public:
  // path: the group file that is read and that update edits.
  explicit DBGrCommand(const char* path = kAccountGroupPath, DBCommandPrograms programs = defaultPrograms());
  static DBCommandPrograms defaultPrograms();

  // Each takes one group line.
  bool update(const std::string& line) override;
  bool add(const std::string& line) override;
  bool remove(const std::string& line) override;
};

}  // namespace vesk
