// Eight processes changing fifty records each of one file at the same time. A writer whose lock
// is refused tries again after a short pause (the library itself never waits).
#include <gtest/gtest.h>
#include <time.h>

#include <fstream>
#include <sstream>

#include "db_records.h"
#include "test_support.h"

namespace vesk::test {
namespace {

constexpr int kWriters = 8;
constexpr int kRecordsEach = 50;
constexpr int kAttempts = 2000;

// Built by appending: GCC 12 at -O3 takes `"text" + std::string` for an overlapping copy.
std::string nameOf(int writer, int record) {
  return std::string("w").append(std::to_string(writer)).append("r").append(std::to_string(record));
}
std::string newPassword(int writer, int record) {
  return std::string("$1$").append(nameOf(writer, record)).append("$changed");
}

// Exit status: 0 when every failure was a refused lock; the outcome of each change is written to
// result, one line "name committed|refused".
int writer(const std::string& path, int id, const std::string& result) {
  LogCapture log;
  std::ofstream out(result);
  for (int r = 0; r < kRecordsEach; ++r) {
    bool committed = false;
    for (int attempt = 0; attempt < kAttempts && !committed; ++attempt) {
      log.clear();
      const Change result = changeShadowPassword(path, nameOf(id, r), newPassword(id, r));
      if (result == Change::LockRefused) {
        if (!log.has("1: cannot lock file " + path + ".")) return 10;
        const struct timespec pause = {0, (200 + (attempt * 7919 + id * 104729) % 800) * 1000L};
        nanosleep(&pause, nullptr);
        continue;
      }
      if (result != Change::Committed) return 10 + static_cast<int>(result);
      committed = true;
    }
    out << nameOf(id, r) << (committed ? " committed\n" : " refused\n");
  }
  return out.flush() ? 0 : 15;
}

using ConcurrencyTest = DBTest;

TEST_F(ConcurrencyTest, EveryCommittedChangeIsInTheFinalFile) {
  const std::string path = dir_ / "shadow";
  std::string before = "root:*:19000:0:99999:7:::\n";
  for (int w = 0; w < kWriters; ++w) {
    for (int r = 0; r < kRecordsEach; ++r) before += nameOf(w, r) + ":$1$old$old:19000:0:99999:7:::\n";
  }
  writeFile(path, before, 0640);

  std::vector<pid_t> pids;
  for (int w = 0; w < kWriters; ++w) {
    pids.push_back(startChild([&] { return writer(path, w, dir_ / ("result" + std::to_string(w))); }));
    ASSERT_GT(pids.back(), 0);
  }
  for (pid_t pid : pids) EXPECT_EQ(waitChild(pid), 0) << "writer " << pid;

  // The file parses whole, with the records in their order.
  std::istringstream file(readFile(path));
  std::vector<DBShadow> records;
  std::string text;
  while (std::getline(file, text)) {
    DBShadow record;
    ASSERT_TRUE(record.parse(text)) << text;
    records.push_back(record);
  }
  ASSERT_EQ(records.size(), 1u + kWriters * kRecordsEach);
  int committed = 0;
  for (int w = 0; w < kWriters; ++w) {
    std::istringstream results(readFile(dir_ / ("result" + std::to_string(w))));
    std::string name, outcome;
    int r = 0;
    for (; results >> name >> outcome; ++r) {
      ASSERT_EQ(name, nameOf(w, r));
      const DBShadow& record = records[1 + w * kRecordsEach + r];
      ASSERT_EQ(record.name, name);
      if (outcome == "committed") {
        ++committed;
        EXPECT_EQ(record.password, newPassword(w, r));
      } else {
        EXPECT_EQ(record.password, "$1$old$old");
      }
    }
    EXPECT_EQ(r, kRecordsEach);
  }
  EXPECT_GT(committed, 0);
  std::cout << "changes committed: " << committed << " of " << kWriters * kRecordsEach << "\n";
  EXPECT_FALSE(exists(path + ".lock"));
}

}  // namespace
}  // namespace vesk::test
