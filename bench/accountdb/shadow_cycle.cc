// One whole change of a shadow record through the account file database: lock, open, load, find,
// update, commit, unlock. Used by compare.py next to the system's chpasswd and the floor program.
//
// Usage: accountdb_shadow_cycle PATH NAME HASH
// Exit status: 0 changed, 2 lock, 3 open, 4 load, 5 not found, 6 update, 7 commit failed.
#include <time.h>

#include <cstdio>

#include "db_file.h"
#include "db_operator.h"
#include "db_records.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s PATH NAME HASH\n", argv[0]);
    return 1;
  }
  vesk::DBOperator<vesk::DBShadow, vesk::DBFile> shadow(argv[1]);
  if (!shadow.storage.lock()) return 2;
  if (!shadow.storage.open()) return 3;
  if (!shadow.load(shadow.storage)) return 4;
  vesk::DBShadow record = shadow.find(argv[2]);
  if (record.isEmpty()) return 5;
  record.password = argv[3];
  record.lastChange = {true, static_cast<std::int64_t>(time(nullptr) / 86400)};
  if (!shadow.update(record)) return 6;
  return shadow.commit() ? 0 : 7;
}
