#include "cache_helper.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "agent_exchange.h"
#include "fd_io.h"

extern char** environ;

namespace vesk::agentd {
namespace {

using agentproto::Clock;
using agentproto::IoStatus;
using agentproto::MessageType;
using agentproto::Reply;

// The helper's executable: a copy of the agent's, made at start, that only root may read.
UniqueFd executable;

// How long a helper that has answered may take to end before it is killed.
constexpr auto kExitGrace = std::chrono::seconds(1);

Reply helperFailure(const std::string& text) {
  Reply reply;
  reply.result = kResultCredentialCache;
  reply.errorText = text;
  return reply;
}

// Waits for the child until deadline, then kills it: a helper runs as its caller, who may stop or
// trace it, and must not hold the serving thread by that. Returns the wait status.
int reap(pid_t pid, Clock::time_point deadline) {
  int status = 0;
  for (;;) {
    const pid_t ended = waitpid(pid, &status, WNOHANG);
    if (ended == pid) return status;
    if (ended < 0 && errno != EINTR) return -1;
    if (Clock::now() >= deadline) break;
    usleep(2000);
  }
  ::kill(pid, SIGKILL);
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return status;
}

// Copies the file of fd into to; false with errno set.
bool copyFile(int from, int to) {
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(from, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (!writeAll(to, buffer, static_cast<std::size_t>(n))) return false;
  }
}

// Whether /proc/self/status names a tracer (or cannot be read).
bool isTraced() {
  UniqueFd fd(open("/proc/self/status", O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return true;
  char buffer[4096];
  ssize_t n;
  do n = read(fd.get(), buffer, sizeof buffer - 1);
  while (n < 0 && errno == EINTR);
  if (n <= 0) return true;
  buffer[n] = '\0';
  const char* line = std::strstr(buffer, "\nTracerPid:");
  return line == nullptr || std::strtol(line + 11, nullptr, 10) != 0;
}

// What a helper that gave no answer did, from its wait status.
std::string helperFailureText(int waitStatus) {
  if (WIFSIGNALED(waitStatus)) return "ended by signal " + std::to_string(WTERMSIG(waitStatus));
  if (!WIFEXITED(waitStatus)) return "no answer";
  switch (static_cast<HelperExit>(WEXITSTATUS(waitStatus))) {
    case HelperExit::kIdentityNotTaken: return "cannot take the caller's identity";
    case HelperExit::kNotStarted: return "cannot be started";
    case HelperExit::kTraced: return "it is being traced";
    default: return "no answer";
  }
}

int exitWith(HelperExit status) { return static_cast<int>(status); }

constexpr unsigned kMemfdFlags = 0x0001U | 0x0002U;  // MFD_CLOEXEC | MFD_ALLOW_SEALING
constexpr unsigned kMemfdExec = 0x0010U;             // MFD_EXEC (Linux 6.3)

}  // namespace

bool prepareCacheHelper(std::string& why) {
  const auto fail = [&why](const char* step) {
    why = std::string(step) + ": " + std::strerror(errno);
    return false;
  };
  UniqueFd self(open("/proc/self/exe", O_RDONLY | O_CLOEXEC));
  if (!self.valid()) return fail("cannot open the agent's executable");
  UniqueFd copy(static_cast<int>(syscall(SYS_memfd_create, "kestrovad-cache-helper", kMemfdFlags | kMemfdExec)));
  if (!copy.valid() && errno == EINVAL) {
    // A kernel that does not know MFD_EXEC makes every memfd executable.
    copy.reset(static_cast<int>(syscall(SYS_memfd_create, "kestrovad-cache-helper", kMemfdFlags)));
  }
  if (!copy.valid()) return fail("cannot make a copy of the agent's executable");
  if (!copyFile(self.get(), copy.get()) ||
      fcntl(copy.get(), F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) != 0) {
    return fail("cannot make a copy of the agent's executable");
  }
  // Started from a descriptor open for writing, exec would fail with ETXTBSY: reopen read-only,
  // before the mode below shuts out even root without CAP_DAC_OVERRIDE (the service's own).
  const std::string path = "/proc/self/fd/" + std::to_string(copy.get());
  UniqueFd readOnly(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!readOnly.valid()) return fail("cannot reopen the copy of the agent's executable");
  // Mode 0111: the helper, running as its caller, may run the copy but not read it, and a program
  // started from a file its user cannot read is not dumpable from its first instruction on: the
  // caller can neither attach to it nor read its memory at any moment.
  if (fchmod(readOnly.get(), 0111) != 0) return fail("cannot make the copy of the agent's executable unreadable");
  executable = std::move(readOnly);
  return true;
}

Reply runCacheHelper(const agentproto::Request& request, uid_t uid, gid_t gid, const RealmSettings& realm,
                     const RealmTransport& transport, std::chrono::milliseconds timeout) {
  if (!executable.valid()) return helperFailure("the credential cache helper is not available");
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
    return helperFailure(std::string("cannot start the credential cache helper: ") + std::strerror(errno));
  }
  UniqueFd ours(pair[0]);
  UniqueFd theirs(pair[1]);
  // Everything the child needs is prepared here: after fork it may only make system calls.
  std::string program = "kestrovad";
  std::string argument = kCacheHelperArgument;
  std::string realmName = realm.realm;
  std::string domainName = realm.domain;
  std::string handOn = transport.handOnText();
  char* const argv[] = {program.data(), argument.data(), realmName.data(), domainName.data(), handOn.data(), nullptr};
  const bool dropIdentity = geteuid() == 0;
  const int helperFd = executable.get();
  const int socketFd = theirs.get();

  const pid_t pid = fork();
  if (pid < 0) return helperFailure(std::string("cannot start the credential cache helper: ") + std::strerror(errno));
  if (pid == 0) {
    if (dup2(socketFd, 0) != 0) _exit(static_cast<int>(HelperExit::kIdentityNotTaken));
    if (dropIdentity) {
      // Raw system calls: in the child of a threaded process only this one thread exists.
      if (syscall(SYS_setgroups, 1, &gid) != 0 || syscall(SYS_setresgid, gid, gid, gid) != 0 ||
          syscall(SYS_setresuid, uid, uid, uid) != 0) {
        _exit(static_cast<int>(HelperExit::kIdentityNotTaken));
      }
    }
    fexecve(helperFd, argv, environ);
    _exit(static_cast<int>(HelperExit::kNotStarted));
  }
  theirs.reset();
  Reply reply;
  agentproto::ExchangeFailure failure;
  const auto deadline = Clock::now() + timeout;
  const bool answered = agentproto::exchange(ours.get(), request, deadline, reply, failure);
  // A helper that answered or closed its end is ending by itself (its exit status says why); one
  // that is silent at the deadline is killed.
  const bool ending = answered || failure.io == IoStatus::Closed;
  const int exitStatus = reap(pid, ending ? Clock::now() + kExitGrace : Clock::now());
  if (!answered && failure.step == agentproto::ExchangeStep::Encode) {
    return helperFailure("cannot pass the request on: " + failure.why);
  }
  if (!answered && failure.io == IoStatus::Timeout) {
    Reply silent;
    silent.result = kResultKdcTimeout;
    silent.errorText = "The Kerberos servers of realm " + realm.realm + " did not answer within " +
                       std::to_string(timeout.count()) + " ms";
    return silent;
  }
  if (!answered || !reply.statusReport.empty()) {
    return helperFailure("the credential cache helper failed: " + helperFailureText(exitStatus));
  }
  return reply;
}

int cacheHelperMain(int argc, char** argv) {
  // The helper runs as the caller, who must not attach to it or read its memory: the request
  // holds a new password.
  // A tracer that attached between exec and this point stays attached: refuse to go on then.
  if (prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0 || isTraced()) return exitWith(HelperExit::kTraced);
  TransportSettings transport;
  std::vector<std::string> heldBack;
  if (argc != 5 || !RealmTransport::fromHandOnText(argv[4], transport, heldBack)) return exitWith(HelperExit::kUsage);
  const KerberosClient client(RealmSettings{argv[2], argv[3], "", false, transport});
  for (const std::string& name : heldBack) client.transport().health().silent(name);
  const auto deadline = Clock::now() + std::chrono::seconds(30);
  int errorNumber = 0;
  agentproto::InFrame frame;
  if (agentproto::readFrame(0, frame, deadline, deadline, errorNumber) != IoStatus::Ok ||
      frame.headerStatus != agentproto::HeaderStatus::Ok) {
    return exitWith(HelperExit::kNoRequest);
  }
  agentproto::Request request;
  std::string why;
  Reply reply;
  if (!agentproto::decodeRequest(frame.header.type, frame.payload.data(), frame.payload.size(), request, why)) {
    reply = helperFailure("malformed request: " + why);
  } else if (request.type == MessageType::Authenticate) {
    reply = client.checkCache(request.cacheName);
  } else if (request.type == MessageType::SetWithCache) {
    reply = client.setWithCache(request.user, request.password, request.cacheName);
  } else {
    reply = helperFailure("not a credential cache request");
  }
  SecretBytes out;
  if (!agentproto::encodeReply(reply, out, why)) return exitWith(HelperExit::kReplyNotEncoded);
  return exitWith(agentproto::writeAll(0, out.data(), out.size(), deadline, errorNumber) == IoStatus::Ok
                      ? HelperExit::kAnswered
                      : HelperExit::kReplyNotSent);
}

}  // namespace vesk::agentd
