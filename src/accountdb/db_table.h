// Listings of user and group tables: the records of an operator under the name of their file.
//
//   User File: /etc/passwd
//   ------------------------------------------------------------
//   root:x:0:0:root:/root:/bin/bash
//   ...
//
// The group listing is the same with "Group File: ".
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "db_operator.h"
#include "db_records.h"

namespace vesk {

// A table of records and the name of the file they were read from.
template <typename Entry>
struct DBTable {
  std::string fileName;
  std::vector<Entry> records;
};

using DBUserTable = DBTable<DBPasswd>;
using DBGroupTable = DBTable<DBGroup>;

// The records of a loaded operator, in file order, named after its storage's path.
template <typename Entry, typename Storage>
DBTable<Entry> tableOf(DBOperator<Entry, Storage>& op) {
  DBTable<Entry> table{op.storage.getPath(), {}};
  op.forEachRecord([&](const Entry& record) { table.records.push_back(record); });
  return table;
}

std::ostream& operator<<(std::ostream& out, const DBUserTable& table);
std::ostream& operator<<(std::ostream& out, const DBGroupTable& table);

}  // namespace vesk
