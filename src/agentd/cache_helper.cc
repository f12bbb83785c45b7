#include "cache_helper.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "agent_exchange.h"

extern char** environ;

namespace vesk::agentd {
namespace {

using agentproto::Clock;
using agentproto::IoStatus;
using agentproto::MessageType;
using agentproto::Reply;

// The agent's own executable, opened at start; the credential cache helper is started from it.
UniqueFd executable;

Reply helperFailure(const std::string& text) {
  Reply reply;
  reply.result = kResultCredentialCache;
  reply.errorText = text;
  return reply;
}

// Waits for the child, killing it first when asked.
int reap(pid_t pid, bool kill) {
  if (kill) ::kill(pid, SIGKILL);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return status;
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

}  // namespace

bool prepareCacheHelper(std::string& why) {
  executable.reset(open("/proc/self/exe", O_RDONLY | O_CLOEXEC));
  if (!executable.valid()) {
    why = std::string("cannot open the agent's executable: ") + std::strerror(errno);
    return false;
  }
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
  const bool answered = agentproto::exchange(ours.get(), request, Clock::now() + timeout, reply, failure);
  // A helper that closed its end has ended by itself: its exit status says why.
  const int exitStatus = reap(pid, !answered && failure.io != IoStatus::Closed);
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
