// Credential-cache operations done with the caller's identity.
//
// A caller's credential cache is opened only by a child process that has taken the caller's user
// and group IDs (from SO_PEERCRED) before it starts: the agent's own executable, started again
// with the argument kCacheHelperArgument from a copy that only root may read, so that the caller
// can never attach to it. Parent and child speak the agent protocol over a socket pair on the
// child's standard input: one request, one reply. The agent waits for the helper's end only
// briefly after its answer and kills it at the time limit, answered or not.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>

#include "agent_protocol.h"
#include "kerberos_client.h"

namespace vesk::agentd {

inline constexpr const char* kCacheHelperArgument = "--cache-helper";

// The helper's exit statuses. An answered request exits kAnswered whatever its result.
enum class HelperExit : int {
  kAnswered = 0,
  kUsage = 2,             // not started with the helper's arguments
  kNoRequest = 3,         // no well-formed request frame arrived
  kReplyNotEncoded = 4,
  kReplyNotSent = 5,
  kTraced = 6,            // a tracer was attached, or the process could not be made non-traceable
  kIdentityNotTaken = 126,  // the child could not take the caller's user and group IDs
  kNotStarted = 127,        // the executable could not be run
};

// Makes the copy of the running executable that helpers are started from; false with the reason
// when it cannot (credential-cache requests are then refused).
bool prepareCacheHelper(std::string& why);

// Runs an Authenticate or SetWithCache request in a helper with the given identity, bounded by
// timeout (the helper is killed then). transport: the agent's transport, whose settings and
// held-back servers the helper starts from.
agentproto::Reply runCacheHelper(const agentproto::Request& request, uid_t uid, gid_t gid, const RealmSettings& realm,
                                 const RealmTransport& transport, std::chrono::milliseconds timeout);

// The helper's side: argv is {program, kCacheHelperArgument, realm, domain}. Returns the exit status.
int cacheHelperMain(int argc, char** argv);

}  // namespace vesk::agentd
