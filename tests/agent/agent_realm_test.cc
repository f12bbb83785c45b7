// The agent client and daemon against a throwaway MIT realm (tests/lib/krbrealm.py, started by the
// CTest fixture agent_realm; KESTROVA_TEST_REALM names its directory): what the whole-program tests
// cannot see. A change is proved by kinit, not by the agent's word.
#include <grp.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "exceptions.h"
#include "local_rpc_session.h"
#include "props.h"

namespace vesk {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kRealm = "KESTROVA.TEST";
constexpr uid_t kNobody = 65534;
constexpr const char* kAlicePassword = "Alice-Passw0rd";
constexpr const char* kHelpdeskPassword = "Helpdesk-Passw0rd";

// Runs a command line of the test's own with input on its standard input; true when it succeeds.
bool run(const std::string& command, const std::string& input = std::string()) {
  FILE* pipe = popen((command + " >/dev/null 2>&1").c_str(), "w");
  if (pipe == nullptr) return false;
  fputs(input.c_str(), pipe);
  return pclose(pipe) == 0;
}

std::string readText(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The independent check: the KDC gives a ticket for the password.
bool kdcAccepts(const std::string& name, const std::string& password) {
  const std::string cache = "/tmp/agent-realm-test-" + std::to_string(getpid()) + "-check";
  const bool accepted = run("kinit -c " + cache + " " + name, password + "\n");
  unlink(cache.c_str());
  return accepted;
}

class AgentRealmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* directory = std::getenv("KESTROVA_TEST_REALM");
    if (directory == nullptr) GTEST_SKIP() << "KESTROVA_TEST_REALM is not set (run through ctest)";
    directory_ = directory;
    setenv("KRB5_CONFIG", (directory_ + "/realm/krb5.conf").c_str(), 1);
    setenv("KRB5_KDC_PROFILE", (directory_ + "/realm/kdc.conf").c_str(), 1);
    setenv("KRB5RCACHEDIR", (directory_ + "/realm/rcache").c_str(), 1);
    setenv("KESTROVA_CONF", (directory_ + "/kestrova.conf").c_str(), 1);
    Props(true);
  }
  std::string directory_;
};

// A credential-cache set as uid nobody in a child process; its result, or 255 when it fails.
int cacheSetAsNobody(const std::string& cache, const std::string& user, const std::string& password) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (setgroups(0, nullptr) != 0 || setresgid(kNobody, kNobody, kNobody) != 0 ||
        setresuid(kNobody, kNobody, kNobody) != 0) {
      _exit(255);
    }
    setenv("KRB5CCNAME", ("FILE:" + cache).c_str(), 1);
    try {
      LocalRpcSession session("/var/kestrova/daemon", false, false);
      session.authenticateProcess();
      _exit(session.setPasswordKrb5(user, Shredder(password)));
    } catch (...) {
      _exit(255);
    }
  }
  int status = 0;
  return waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : 255;
}

TEST_F(AgentRealmTest, CredentialCacheSetUsesOnlyTheCallersOwnCache) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  const std::string user = "ccset-" + std::to_string(getpid());
  ASSERT_TRUE(run(std::string("kadmin.local -r ") + kRealm + " -q 'addprinc -pw First-Passw0rd " + user + "'"));
  const std::string cacheDir = directory_ + "/caches-" + std::to_string(getpid());
  ASSERT_EQ(mkdir(cacheDir.c_str(), 0755), 0);
  const std::string own = cacheDir + "/nobody";
  const std::string foreign = cacheDir + "/root";
  ASSERT_TRUE(run("kinit -c " + own + " helpdesk", std::string(kHelpdeskPassword) + "\n"));
  ASSERT_TRUE(run("kinit -c " + foreign + " helpdesk", std::string(kHelpdeskPassword) + "\n"));
  ASSERT_EQ(chown(own.c_str(), kNobody, kNobody), 0);

  EXPECT_EQ(cacheSetAsNobody(own, user, "Cache-Set-Passw0rd"), 0);
  EXPECT_TRUE(kdcAccepts(user, "Cache-Set-Passw0rd"));
  EXPECT_EQ(cacheSetAsNobody(own, "no-such-target", "Cache-Set-Passw0rd"), 17);
  // root's cache (mode 0600) cannot be opened with nobody's identity, though the agent is root.
  EXPECT_EQ(cacheSetAsNobody(foreign, user, "Foreign-Set-Passw0rd"), kResultCredentialCache);
  EXPECT_TRUE(kdcAccepts(user, "Cache-Set-Passw0rd"));
  unlink(own.c_str());
  unlink(foreign.c_str());
  rmdir(cacheDir.c_str());
}

TEST_F(AgentRealmTest, LogRecordsEveryOperationWithoutThePassword) {
  const std::string marker = "Marker-" + std::to_string(getpid()) + "-Passw0rd";
  LocalRpcSession session("/var/kestrova/daemon", false, false);
  EXPECT_EQ(session.validatePlainTextUser("alice", Shredder(marker), false), 2);
  const std::string text = readText(directory_ + "/kestrovad.log");
  EXPECT_EQ(text.find(marker), std::string::npos);
  EXPECT_NE(text.find("uid=" + std::to_string(getuid()) + " pid=" + std::to_string(getpid()) +
                      " account=alice operation=validate outcome=2"),
            std::string::npos);
}

std::size_t openDescriptors(pid_t pid) {
  const std::filesystem::directory_iterator fds("/proc/" + std::to_string(pid) + "/fd");
  return static_cast<std::size_t>(std::distance(begin(fds), end(fds)));
}

// 50 clients doing 20 validations each, right and wrong passwords in turn.
int loadRound() {
  std::atomic<int> wrongAnswers{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < 50; ++c) {
    clients.emplace_back([&wrongAnswers, c] {
      for (int i = 0; i < 20; ++i) {
        const bool right = (c + i) % 2 == 0;
        try {
          LocalRpcSession session("/var/kestrova/daemon", false, false);
          const int result =
              session.validatePlainTextUser("alice", Shredder(right ? kAlicePassword : "Wrong-Passw0rd"), false);
          if (result != (right ? 0 : 2)) ++wrongAnswers;
        } catch (const std::exception&) {
          ++wrongAnswers;
        }
      }
    });
  }
  for (auto& client : clients) client.join();
  return wrongAnswers.load();
}

TEST_F(AgentRealmTest, FiftyConcurrentClientsGetCorrectAnswersAndTheAgentKeepsNoDescriptor) {
  // The agent of the fixture; no other test talks to it meanwhile (CTest RESOURCE_LOCK).
  const std::string state = readText(directory_ + "/state.json");
  const pid_t agent = static_cast<pid_t>(std::stol(state.substr(state.find("\"AGENT_PID\": ") + 13)));
  ASSERT_EQ(loadRound(), 0) << "warm-up round";
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const std::size_t fdsBefore = openDescriptors(agent);
  EXPECT_EQ(loadRound(), 0);
  for (auto deadline = Clock::now() + std::chrono::seconds(3);
       Clock::now() < deadline && openDescriptors(agent) != fdsBefore;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(openDescriptors(agent), fdsBefore);
}

}  // namespace
}  // namespace vesk
