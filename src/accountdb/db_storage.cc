#include "db_storage.h"

namespace vesk {

DBStorage::DBStorage(const char* path) : path(path != nullptr ? path : "") {}

DBStorage::~DBStorage() = default;

void DBStorage::setReadOnly(bool value) { readOnly = value; }

bool DBStorage::isReadOnly() const { return readOnly; }

void DBStorage::close() {}

bool DBStorage::isOpen() const { return opened; }

bool DBStorage::isLocked() const { return locked; }

bool DBStorage::hasRecord() const { return current; }

std::string DBStorage::getRecord() const { return record; }

bool DBStorage::update(const std::string&) { return false; }

bool DBStorage::add(const std::string&) { return false; }

bool DBStorage::remove(const std::string&) { return false; }

bool DBStorage::write(const std::vector<std::string>&) { return false; }

void DBStorage::setRecord(std::string_view text) {
  record.assign(text.data(), text.size());
  current = true;
}

void DBStorage::setEndOfData() {
  record.clear();
  current = false;
}

}  // namespace vesk
