// Writers killed with SIGKILL at random moments of a commit: the account file is always exactly
// the old or the new content, and the next writer takes over the lock the dead one left.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <tuple>

#include "test_support.h"

namespace vesk::test {
namespace {

constexpr int kCommits = 200;
constexpr int kLines = 2000;
constexpr int kTarget = 1500;

std::string passwordOf(int version) { return "$1$v" + std::to_string(version) + "$0123456789abcdefghijkl"; }

// The file after `version` commits: every record as generated, the target with that version.
std::string contentAt(int version) {
  std::string text;
  for (int i = 0; i < kLines; ++i) {
    text += "user" + std::to_string(i) + ":" + (i == kTarget ? passwordOf(version) : "$1$base") + ":19000:0:99999:7:::\n";
  }
  return text;
}

// A writer process that changes the target to `version`; exits 0 when its commit succeeded.
pid_t startWriter(const std::string& path, int version) {
  return startChild([&] {
    return static_cast<int>(changeShadowPassword(path, "user" + std::to_string(kTarget), passwordOf(version)));
  });
}

mode_t modeOf(const std::string& path) {
  struct stat status {};
  return lstat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

using CrashTest = DBTest;

TEST_F(CrashTest, KilledWritersLeaveOldOrNewFileAndTheirLockIsTakenOver) {
  const std::string path = dir_ / "shadow";
  writeFile(path, contentAt(0), 0640);

  // Kills fall anywhere in the time one whole writer takes and a little after, as measured on the
  // writer that ran last to its end (so that the spread follows the load of the machine).
  auto timeWriter = [&](int version) {
    const auto start = std::chrono::steady_clock::now();
    const int status = waitChild(startWriter(path, version));
    const auto span = std::chrono::steady_clock::now() - start;
    return std::make_pair(status, std::chrono::duration_cast<std::chrono::microseconds>(span).count());
  };
  auto [firstStatus, span] = timeWriter(0);
  ASSERT_EQ(firstStatus, 0);
  std::mt19937 random(4711);

  int version = 0;
  int newContent = 0;
  int staleLocks = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  for (int commit = 1; commit <= kCommits && std::chrono::steady_clock::now() < deadline; ++commit) {
    SCOPED_TRACE("commit " + std::to_string(commit));
    // A writer killed at a random moment.
    const pid_t victim = startWriter(path, 2 * commit - 1);
    const long delay = std::uniform_int_distribution<long>(0, span * 5 / 4)(random);
    const struct timespec pause = {delay / 1000000, (delay % 1000000) * 1000};
    nanosleep(&pause, nullptr);
    kill(victim, SIGKILL);
    const int status = waitChild(victim);
    const std::string after = readFile(path);
    if (after == contentAt(2 * commit - 1)) {
      ++newContent;
    } else {
      ASSERT_EQ(after, contentAt(version)) << "neither old nor new content, writer status " << status;
      ASSERT_NE(status, 0) << "a writer whose commit succeeded left the old content";
    }
    if (exists(path + ".lock")) ++staleLocks;
    // The next writer runs to its end: it must take over whatever lock the victim left. A victim
    // killed between creating its temporary file and giving it the account file's mode leaves a
    // file without permission bits, which only root can open again: an ordinary user's writer
    // then fails once and removes it.
    const bool unopenableTemporary = geteuid() != 0 && exists(path + "+") && (modeOf(path + "+") & 0600) != 0600;
    auto [status2, span2] = timeWriter(2 * commit);
    if (unopenableTemporary && status2 == static_cast<int>(Change::CommitFailed)) {
      ASSERT_FALSE(exists(path + "+"));
      std::tie(status2, span2) = timeWriter(2 * commit);
    }
    ASSERT_EQ(status2, 0);
    span = span2;
    version = 2 * commit;
    ASSERT_EQ(readFile(path), contentAt(version));
    ASSERT_FALSE(exists(path + ".lock"));
    ASSERT_FALSE(exists(path + "+"));
  }
  EXPECT_EQ(version, 2 * kCommits) << "ran out of time";
  // The kills fell both inside the locked stretch and after a completed replacement.
  EXPECT_GT(staleLocks, 0);
  EXPECT_GT(newContent, 0);
  std::cout << "killed writers: " << kCommits << ", stale locks taken over: " << staleLocks
            << ", new content left by a killed writer: " << newContent << "\n";
}

}  // namespace
}  // namespace vesk::test
