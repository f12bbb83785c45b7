// Storages that change the local account files directly, one record per call: DBPwUser (users,
// in the passwd and shadow files) and DBGrGroup (groups, in the group file).
//
// Each change operation builds its own operators on the change paths, takes their locks, commits
// and releases them before it returns; the passwd file is committed before the shadow file is
// opened, so one operation never holds both. The reading side is the member `file`, a read-only
// DBFile on the read path, so that open needs no lock (lock and unlock of these storages do
// nothing and do not lock `file`). Failures are reported by a false result; the messages are
// those of the file storage.
#pragma once

#include <string>

#include "account_paths.h"
#include "db_file.h"
#include "db_storage.h"

namespace vesk {

class DBPwUser : public DBStorage {
 public:
  static constexpr const char* passwdPath = kAccountPasswdPath;
  static constexpr const char* shadowPath = kAccountShadowPath;

  // readPath: the file that open and the reading operations read. passwdFile and shadowFile: the
  // files the change operations work on (the system's own unless given, as tests do).
  explicit DBPwUser(const char* readPath = passwdPath, const char* passwdFile = passwdPath,
                    const char* shadowFile = shadowPath);
  ~DBPwUser() override;

  bool isFile() const override;
  bool open() override;
  void close() override;
  bool isOpen() const override;
  bool lock() override;
  void unlock() override;
  bool first() override;
  bool next() override;
  bool hasRecord() const override;
  std::string getRecord() const override;
  // Replaces the passwd record of the line's name; the shadow file is not touched.
  bool update(const std::string& line) override;
  // Appends the passwd line and then the shadow line NAME:*::::::: (when the shadow file cannot
  // be locked or read, the user is added without one and the result is true).
  bool add(const std::string& line) override;
  // Removes the first passwd record of the line's name (only the name matters), then its shadow
  // record: false when the shadow file has none, true when there is no shadow file to change.
  bool remove(const std::string& line) override;

  DBFile file;

 private:
  std::string passwdFile_;
  std::string shadowFile_;
};

class DBGrGroup : public DBStorage {
 public:
  static constexpr const char* groupPath = kAccountGroupPath;

  // readPath: the file that open and the reading operations read. groupFile: the file the change
  // operations work on (the system's own unless given).
  explicit DBGrGroup(const char* readPath = groupPath, const char* groupFile = groupPath);
  ~DBGrGroup() override;

  bool isFile() const override;
  bool open() override;
  void close() override;
  bool isOpen() const override;
  bool lock() override;
  void unlock() override;
  bool first() override;
  bool next() override;
  bool hasRecord() const override;
  std::string getRecord() const override;
  // Each takes one group line: replace, append, or remove (by name) the group's record.
  bool update(const std::string& line) override;
  bool add(const std::string& line) override;
  bool remove(const std::string& line) override;

  DBFile file;

 private:
  std::string groupFile_;
};

}  // namespace vesk
