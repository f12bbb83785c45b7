#include "db_account.h"

#include "db_operator.h"
#include "db_records.h"

namespace vesk {
namespace {

template <typename Entry>
bool parseRecord(const std::string& line, Entry& entry) {
  return entry.parse(line) && !entry.isEmpty();
}

// The change of one record by name in the file at path: update replaces it, otherwise it is
// removed. False when the file cannot be opened, no record has the name, or the commit fails.
template <typename Entry>
bool changeRecord(const std::string& path, const Entry& entry, bool replace) {
  DBOperator<Entry, DBFile> op(path);
  if (!op.lockOpenLoad()) return false;
  if (op.find(entry.name).isEmpty()) return false;
  if (!(replace ? op.update(entry) : op.remove(entry))) return false;
  return op.commit();
}

template <typename Entry>
bool appendRecord(const std::string& path, const Entry& entry) {
  DBOperator<Entry, DBFile> op(path);
  if (!op.lockOpenLoad() || !op.add(entry)) return false;
  return op.commit();
}

bool newShadowRecord(const std::string& name, DBShadow& shadow) {
  return parseRecord(name + DBShadow::kNewUserFields, shadow);
}

}  // namespace

DBPwUser::DBPwUser(const char* readPath, const char* passwdFile, const char* shadowFile)
    : DBStorage(readPath), file(readPath), passwdFile_(passwdFile), shadowFile_(shadowFile) {
  file.setReadOnly(true);
}

DBPwUser::~DBPwUser() { file.close(); }

bool DBPwUser::isFile() const { return false; }
bool DBPwUser::open() { return file.open(); }
void DBPwUser::close() { file.close(); }
bool DBPwUser::isOpen() const { return file.isOpen(); }
bool DBPwUser::lock() { return true; }
void DBPwUser::unlock() {}
bool DBPwUser::first() { return file.first(); }
bool DBPwUser::next() { return file.next(); }
bool DBPwUser::hasRecord() const { return file.hasRecord(); }
std::string DBPwUser::getRecord() const { return file.getRecord(); }

bool DBPwUser::update(const std::string& line) {
  DBPasswd user;
  return parseRecord(line, user) && changeRecord(passwdFile_, user, true);
}

bool DBPwUser::add(const std::string& line) {
  DBPasswd user;
  if (!parseRecord(line, user) || !appendRecord(passwdFile_, user)) return false;
  DBShadow shadow;
  if (!newShadowRecord(user.name, shadow)) return false;
  DBOperator<DBShadow, DBFile> op(shadowFile_);
  if (!op.lockOpenLoad()) return true;  // added without a shadow record
  if (!op.add(shadow)) return false;
  return op.commit();
}

bool DBPwUser::remove(const std::string& line) {
  DBPasswd user;
  if (!parseRecord(line, user) || !changeRecord(passwdFile_, user, false)) return false;
  DBShadow shadow;
  if (!newShadowRecord(user.name, shadow)) return false;
  DBOperator<DBShadow, DBFile> op(shadowFile_);
  if (!op.lockOpenLoad()) return true;  // no shadow file to change
  if (op.find(shadow.name).isEmpty()) return false;
  if (!op.remove(shadow)) return false;
  return op.commit();
}

DBGrGroup::DBGrGroup(const char* readPath, const char* groupFile)
    : DBStorage(readPath), file(readPath), groupFile_(groupFile) {
  file.setReadOnly(true);
}

DBGrGroup::~DBGrGroup() { file.close(); }

bool DBGrGroup::isFile() const { return false; }
bool DBGrGroup::open() { return file.open(); }
void DBGrGroup::close() { file.close(); }
bool DBGrGroup::isOpen() const { return file.isOpen(); }
bool DBGrGroup::lock() { return true; }
void DBGrGroup::unlock() {}
bool DBGrGroup::first() { return file.first(); }
bool DBGrGroup::next() { return file.next(); }
bool DBGrGroup::hasRecord() const { return file.hasRecord(); }
std::string DBGrGroup::getRecord() const { return file.getRecord(); }

bool DBGrGroup::update(const std::string& line) {
  DBGroup group;
  return parseRecord(line, group) && changeRecord(groupFile_, group, true);
}

bool DBGrGroup::add(const std::string& line) {
  DBGroup group;
  return parseRecord(line, group) && appendRecord(groupFile_, group);
}

bool DBGrGroup::remove(const std::string& line) {
  DBGroup group;
  return parseRecord(line, group) && changeRecord(groupFile_, group, false);
}

}  // namespace vesk
