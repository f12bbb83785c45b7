// Eight processes changing fifty records each of one file at the same time. A writer whose lock
// is refused tries again after a short pause (the library itself never waits); every change must
// be in the final file, and nothing else may have changed.
#include <gtest/gtest.h>
#include <time.h>

#include <chrono>

#include "test_support.h"

namespace vesk::test {
namespace {

constexpr int kWriters = 8;
constexpr int kRecordsEach = 50;

// Built by appending: GCC 12 at -O3 takes `"text" + std::string` for an overlapping copy.
std::string nameOf(int writer, int record) {
  return std::string("w").append(std::to_string(writer)).append("r").append(std::to_string(record));
}
std::string line(const std::string& name, const std::string& password) {
  return name + ":" + password + ":19000:0:99999:7:::\n";
}
std::string newPassword(int writer, int record) {
  return std::string("$1$").append(nameOf(writer, record)).append("$changed");
}

// Exit status 0 when every change was committed in time, and every failure was a refused lock.
int writer(const std::string& path, int id) {
  LogCapture log;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
  for (int r = 0; r < kRecordsEach; ++r) {
    for (int attempt = 0;; ++attempt) {
      log.clear();
      const Change result = changeShadowPassword(path, nameOf(id, r), newPassword(id, r));
      if (result == Change::Committed) break;
      if (result != Change::LockRefused || !log.has("1: cannot lock file " + path + ".")) {
        return 10 + static_cast<int>(result);
      }
      if (std::chrono::steady_clock::now() > deadline) return 20;
      const struct timespec pause = {0, (200 + (attempt * 7919 + id * 104729) % 800) * 1000L};
      nanosleep(&pause, nullptr);
    }
  }
  return 0;
}

using ConcurrencyTest = DBTest;

TEST_F(ConcurrencyTest, EveryCommittedChangeIsInTheFinalFile) {
  const std::string path = dir_ / "shadow";
  std::string before = line("root", "*");
  std::string after = before;
  for (int w = 0; w < kWriters; ++w) {
    for (int r = 0; r < kRecordsEach; ++r) {
      before += line(nameOf(w, r), "$1$old$old");
      after += line(nameOf(w, r), newPassword(w, r));
    }
  }
  writeFile(path, before, 0640);
  std::vector<pid_t> pids;
  for (int w = 0; w < kWriters; ++w) pids.push_back(startChild([&] { return writer(path, w); }));
  for (pid_t pid : pids) EXPECT_EQ(waitChild(pid), 0) << "writer " << pid;
  EXPECT_EQ(readFile(path), after);
  EXPECT_FALSE(exists(path + ".lock"));
}

}  // namespace
}  // namespace vesk::test
