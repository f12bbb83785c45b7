// The agent client and daemon against a throwaway MIT realm (tests/lib/krbrealm.py, started by the
// CTest fixture agent_realm; KESTROVA_TEST_REALM names its directory). Every result is checked
// independently where it changes something: kinit must accept the new password.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "agent_protocol.h"
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
constexpr const char* kNoRightsPassword = "NoRights-Passw0rd";

std::string realmDirectory() {
  const char* directory = std::getenv("KESTROVA_TEST_REALM");
  return directory == nullptr ? std::string() : directory;
}

// Runs argv with input on its standard input and its output discarded; returns the exit status.
int run(const std::vector<std::string>& argv, const std::string& input = std::string()) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(pipeFds[0], 0);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(pipeFds[0]);
  [[maybe_unused]] ssize_t n = write(pipeFds[1], input.data(), input.size());
  close(pipeFds[1]);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void kadmin(const std::string& command) {
  ASSERT_EQ(run({"kadmin.local", "-r", kRealm, "-q", command}), 0) << command;
}

// A principal of this test process alone: tests run in parallel against one realm.
std::string addPrincipal(const std::string& stem, const std::string& password, const std::string& policy) {
  const std::string name = stem + "-" + std::to_string(getpid());
  kadmin("addprinc +requires_preauth " + (policy.empty() ? std::string("-clearpolicy") : "-policy " + policy) +
         " -pw " + password + " " + name);
  return name;
}

// The independent check: the KDC gives a ticket for the password.
bool kdcAccepts(const std::string& name, const std::string& password) {
  const std::string cache = "/tmp/agent-realm-test-" + std::to_string(getpid()) + "-check";
  const int status = run({"kinit", "-c", cache, name}, password + "\n");
  unlink(cache.c_str());
  return status == 0;
}

void useSettings(const std::string& path) {
  setenv("KESTROVA_CONF", path.c_str(), 1);
  Props(true);
}

class AgentRealmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ = realmDirectory();
    if (directory_.empty()) GTEST_SKIP() << "KESTROVA_TEST_REALM is not set (run through ctest)";
    setenv("KRB5_CONFIG", (directory_ + "/realm/krb5.conf").c_str(), 1);
    setenv("KRB5_KDC_PROFILE", (directory_ + "/realm/kdc.conf").c_str(), 1);
    setenv("KRB5RCACHEDIR", (directory_ + "/realm/rcache").c_str(), 1);
    useSettings(directory_ + "/kestrova.conf");
  }

  static ValidationResult validate(const std::string& user, const std::string& password) {
    LocalRpcSession session("/var/kestrova/daemon", false, false);
    return session.validatePlainTextUser(user, Shredder(password), false);
  }
  static ValidationResult change(const std::string& user, const std::string& newPassword,
                                 const std::string& oldPassword, std::string* text = nullptr, int* code = nullptr) {
    LocalRpcSession session("/var/kestrova/daemon", false, false);
    const ValidationResult result = session.changePassword(user, Shredder(newPassword), Shredder(oldPassword), false);
    if (text != nullptr) *text = session.lastErrorText;
    if (code != nullptr) *code = session.lastErrorCode;
    return result;
  }
  static ValidationResult set(const std::string& user, const std::string& newPassword, const std::string& admin,
                              const std::string& adminPassword, int* code = nullptr) {
    LocalRpcSession session("/var/kestrova/daemon", false, false);
    const ValidationResult result = session.setPassword(user, Shredder(newPassword), admin, Shredder(adminPassword));
    if (code != nullptr) *code = session.lastErrorCode;
    return result;
  }

  std::string directory_;
};

TEST_F(AgentRealmTest, ValidateReportsEveryAccountState) {
  struct Case {
    const char* user;
    const char* password;
    int result;
    int code;
  };
  const Case cases[] = {
      {"alice", kAlicePassword, 0, 0},
      {"alice@kestrova.test", kAlicePassword, 0, 0},
      {"alice", "Wrong-Passw0rd", 2, -1765328360},
      {"nosuchuser", "Any-Passw0rd", 17, -1765328378},
      {"disabled", "Disabled-Passw0rd", 3, -1765328366},
      {"expired", "Expired-Passw0rd", 7, -1765328383},
      {"pwexpired", "PwExpired-Passw0rd", 4, -1765328361},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.user);
    LocalRpcSession session("/var/kestrova/daemon", false, false);
    EXPECT_EQ(session.validatePlainTextUser(c.user, Shredder(c.password), false), c.result) << session.lastErrorText;
    EXPECT_EQ(session.lastErrorCode, c.code);
  }
}

TEST_F(AgentRealmTest, OwnChangeSucceedsAndTheKdcThenAcceptsOnlyTheNewPassword) {
  const std::string user = addPrincipal("chg-ok", "First-Passw0rd", "standard");
  EXPECT_EQ(change(user, "Second-Passw0rd", "First-Passw0rd"), 0);
  EXPECT_TRUE(kdcAccepts(user, "Second-Passw0rd"));
  EXPECT_FALSE(kdcAccepts(user, "First-Passw0rd"));
}

TEST_F(AgentRealmTest, OwnChangeRefusalsByPolicyAndByWrongOldPassword) {
  const std::string user = addPrincipal("chg-policy", "First-Passw0rd", "standard");
  std::string text;
  int code = 0;
  EXPECT_EQ(change(user, "short", "First-Passw0rd", &text, &code), 5);
  EXPECT_EQ(code, 4);
  EXPECT_NE(text.find("too short"), std::string::npos) << text;

  ASSERT_EQ(change(user, "Second-Passw0rd", "First-Passw0rd"), 0);
  EXPECT_EQ(change(user, "First-Passw0rd", "Second-Passw0rd", &text), 5) << "history";
  EXPECT_NE(text.find("used previously"), std::string::npos) << text;

  EXPECT_EQ(change(user, "Third-Passw0rd", "Wrong-Passw0rd", &text, &code), 9);
  EXPECT_EQ(code, -1765328360);
  EXPECT_EQ(text, "Preauthentication failed");

  // The minimum life counts from the last change, which has just happened.
  kadmin("modprinc -policy minlife " + user);
  EXPECT_EQ(change(user, "Third-Passw0rd", "Second-Passw0rd", &text), 5);
  EXPECT_NE(text.find("changed too recently"), std::string::npos) << text;
  EXPECT_TRUE(kdcAccepts(user, "Second-Passw0rd"));
}

TEST_F(AgentRealmTest, AdministratorSetCoversSuccessRightsUnknownTargetAndPolicy) {
  const std::string user = addPrincipal("set", "First-Passw0rd", "standard");
  EXPECT_EQ(set(user, "Helpdesk-Set-Passw0rd", "helpdesk", kHelpdeskPassword), 0);
  EXPECT_TRUE(kdcAccepts(user, "Helpdesk-Set-Passw0rd"));

  int code = 0;
  EXPECT_EQ(set(user, "NoRights-Set-Passw0rd", "norights", kNoRightsPassword, &code), 9);
  EXPECT_EQ(code, 5);
  EXPECT_EQ(set("root/admin", "Taken-Over-Passw0rd", "helpdesk", kHelpdeskPassword, &code), 9);
  EXPECT_EQ(code, 5);
  EXPECT_EQ(set("no-such-target", "Any-Passw0rd1", "helpdesk", kHelpdeskPassword), 17);
  EXPECT_EQ(set(user, "short", "helpdesk", kHelpdeskPassword, &code), 5);
  EXPECT_EQ(code, 4);
  EXPECT_EQ(set(user, "Any-Passw0rd1", "helpdesk", "Wrong-Passw0rd", &code), 9);
  EXPECT_EQ(code, -1765328360);
  EXPECT_TRUE(kdcAccepts(user, "Helpdesk-Set-Passw0rd"));
}

// Runs a credential-cache set as uid nobody in a child process; returns the result (-1 on failure).
int cacheSetAsNobody(const std::string& cache, const std::string& user, const std::string& password) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    close(pipeFds[0]);
    int result = -1;
    if (setgroups(0, nullptr) == 0 && setresgid(kNobody, kNobody, kNobody) == 0 &&
        setresuid(kNobody, kNobody, kNobody) == 0) {
      setenv("KRB5CCNAME", ("FILE:" + cache).c_str(), 1);
      try {
        LocalRpcSession session("/var/kestrova/daemon", false, false);
        session.authenticateProcess();
        result = session.setPasswordKrb5(user, Shredder(password));
      } catch (...) {
        result = -2;
      }
    }
    [[maybe_unused]] ssize_t n = write(pipeFds[1], &result, sizeof result);
    _exit(0);
  }
  close(pipeFds[1]);
  int result = -1;
  if (read(pipeFds[0], &result, sizeof result) != sizeof result) result = -1;
  close(pipeFds[0]);
  waitpid(pid, nullptr, 0);
  return result;
}

TEST_F(AgentRealmTest, CredentialCacheSetUsesOnlyTheCallersOwnCache) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  const std::string user = addPrincipal("ccset", "First-Passw0rd", "standard");
  const std::string cacheDir = directory_ + "/caches-" + std::to_string(getpid());
  ASSERT_EQ(mkdir(cacheDir.c_str(), 0755), 0);
  const std::string own = cacheDir + "/nobody";
  const std::string foreign = cacheDir + "/root";
  ASSERT_EQ(run({"kinit", "-c", own, "helpdesk"}, std::string(kHelpdeskPassword) + "\n"), 0);
  ASSERT_EQ(run({"kinit", "-c", foreign, "helpdesk"}, std::string(kHelpdeskPassword) + "\n"), 0);
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

TEST_F(AgentRealmTest, GetUserKnowsPrincipalsOfTheRealmOnly) {
  LocalRpcSession session("/var/kestrova/daemon", false, false);
  auto alice = session.getUser("alice", UNIX_ONLY);
  ASSERT_NE(alice, nullptr);
  EXPECT_EQ(alice->principal, "alice@KESTROVA.TEST");
  EXPECT_NE(session.getUser("disabled", UNIX_ONLY), nullptr);
  EXPECT_EQ(session.getUser("nosuchuser", UNIX_ONLY), nullptr);
  EXPECT_EQ(session.lastErrorCode, -1765328378);
  // The probe spends no password attempt: the account still validates.
  EXPECT_EQ(validate("alice", kAlicePassword), 0);
}

TEST_F(AgentRealmTest, LogRecordsEveryOperationWithoutThePassword) {
  const std::string marker = "Marker-" + std::to_string(getpid()) + "-Passw0rd";
  EXPECT_EQ(validate("alice", marker), 2);
  std::ifstream log(directory_ + "/kestrovad.log");
  std::stringstream content;
  content << log.rdbuf();
  const std::string text = content.str();
  EXPECT_EQ(text.find(marker), std::string::npos);
  EXPECT_NE(text.find("uid=" + std::to_string(getuid()) + " pid=" + std::to_string(getpid()) +
                      " account=alice operation=validate outcome=2"),
            std::string::npos);
}

// A kestrovad of the test's own, with its own settings (and optionally its own Kerberos
// configuration), stopped by PID at the end.
class PrivateAgent {
 public:
  PrivateAgent(const std::string& directory, const std::map<std::string, std::string>& extra,
               const std::string& krb5Config = std::string())
      : directory_(directory) {
    mkdir(directory_.c_str(), 0755);
    settings_ = directory_ + "/kestrova.conf";
    socket_ = directory_ + "/daemon";
    std::map<std::string, std::string> values = {
        {"domain", "kestrova.test"},          {"agent.socket", socket_},
        {"agent.connect.timeout.ms", "2000"}, {"agent.reply.timeout.ms", "20000"},
        {"agent.kdc.timeout.ms", "10000"},    {"agent.probe.timeout.ms", "2000"},
        {"log.file", directory_ + "/kestrovad.log"}};
    for (const auto& [key, value] : extra) values[key] = value;
    std::ofstream out(settings_);
    for (const auto& [key, value] : values) out << key << ": " << value << "\n";
    out.close();
    pid_ = fork();
    if (pid_ == 0) {
      setenv("KESTROVA_CONF", settings_.c_str(), 1);
      if (!krb5Config.empty()) setenv("KRB5_CONFIG", krb5Config.c_str(), 1);
      execl(KESTROVAD_PATH, "kestrovad", "--foreground", static_cast<char*>(nullptr));
      _exit(127);
    }
    for (auto deadline = Clock::now() + std::chrono::seconds(10); Clock::now() < deadline;) {
      struct stat info;
      if (stat(socket_.c_str(), &info) == 0) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ADD_FAILURE() << "kestrovad did not start";
  }
  ~PrivateAgent() {
    stop();
    removeFiles();
  }
  void stop() {
    kill(pid_, SIGTERM);
    int status = 0;
    for (auto deadline = Clock::now() + std::chrono::seconds(15); Clock::now() < deadline;) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        // A sanitizer report ends the agent with another status.
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "kestrovad status " << status;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ADD_FAILURE() << "kestrovad did not stop on SIGTERM";
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
  }
  void removeFiles() const {
    unlink(settings_.c_str());
    unlink((directory_ + "/kestrovad.log").c_str());
    rmdir(directory_.c_str());
  }
  const std::string& settings() const { return settings_; }
  pid_t pid() const { return pid_; }

 private:
  std::string directory_;
  std::string settings_;
  std::string socket_;
  pid_t pid_ = -1;
};

// A KDC that takes requests and never answers: a bound UDP port and a TCP listener that never accepts.
struct SilentKdc {
  SilentKdc() {
    udp = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(udp, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t size = sizeof address;
    getsockname(udp, reinterpret_cast<sockaddr*>(&address), &size);
    port = ntohs(address.sin_port);
    tcp = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bind(tcp, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(tcp, 16);
  }
  ~SilentKdc() {
    close(udp);
    close(tcp);
  }
  int udp = -1;
  int tcp = -1;
  int port = 0;
};

TEST_F(AgentRealmTest, GetUserReturnsWithinTheProbeTimeWhenTheKdcIsAwayOrSilent) {
  SilentKdc silent;
  const std::string directory = "/tmp/agent-realm-test-probe-" + std::to_string(getpid());
  mkdir(directory.c_str(), 0755);
  const std::string config = directory + "/krb5.conf";
  std::ofstream(config) << "[libdefaults]\n dns_lookup_kdc = false\n\n[realms]\n SILENT.TEST = {\n  kdc = 127.0.0.1:"
                        << silent.port << "\n }\n AWAY.TEST = {\n  kdc = 127.0.0.1:1\n }\n";
  constexpr long kProbeMs = 500;
  for (const char* realm : {"SILENT.TEST", "AWAY.TEST"}) {
    SCOPED_TRACE(realm);
    PrivateAgent agent(directory + "/" + realm, {{"realm", realm}, {"agent.probe.timeout.ms", std::to_string(kProbeMs)}},
                       config);
    useSettings(agent.settings());
    LocalRpcSession session("/var/kestrova/daemon", false, false);
    const auto start = Clock::now();
    EXPECT_EQ(session.getUser("alice", UNIX_ONLY), nullptr);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(kProbeMs + 1000));
    EXPECT_TRUE(session.lastErrorText.find(realm) != std::string::npos) << session.lastErrorText;
  }
  unlink(config.c_str());
  rmdir(directory.c_str());
}

std::size_t openDescriptors(pid_t pid) {
  std::size_t count = 0;
  if (DIR* dir = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str())) {
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
  }
  return count;
}

long residentKilobytes(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
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

TEST_F(AgentRealmTest, FiftyConcurrentClientsGetCorrectAnswersAndTheAgentKeepsNoResidue) {
  PrivateAgent agent(directory_ + "/load-" + std::to_string(getpid()), {{"realm", kRealm}, {"log.level", "3"}});
  useSettings(agent.settings());
  ASSERT_EQ(loadRound(), 0) << "warm-up round";
  const auto settle = [&agent](std::size_t expected) {
    for (auto deadline = Clock::now() + std::chrono::seconds(3); Clock::now() < deadline;) {
      if (openDescriptors(agent.pid()) == expected) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  };
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const std::size_t fdsBefore = openDescriptors(agent.pid());
  const long memoryBefore = residentKilobytes(agent.pid());
  EXPECT_EQ(loadRound(), 0);
  settle(fdsBefore);
  EXPECT_EQ(openDescriptors(agent.pid()), fdsBefore);
#if !defined(__SANITIZE_ADDRESS__)
  // Thread stacks and allocator arenas are reused, not grown, by a second round of the same load.
  EXPECT_LE(residentKilobytes(agent.pid()), memoryBefore + 1024) << "before: " << memoryBefore << " kB";
#else
  (void)memoryBefore;
#endif
}

}  // namespace
}  // namespace vesk
