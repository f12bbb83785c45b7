// Credential-cache operations done with the caller's identity.
//
// A caller's credential cache is opened only by a child process that has taken the caller's user
// and group IDs (from SO_PEERCRED) before it starts: the agent's own executable, started again
// with the argument kCacheHelperArgument. Parent and child speak the agent protocol over a socket
// pair on the child's standard input: one request, one reply.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>

#include "agent_protocol.h"
#include "kerberos_client.h"

namespace vesk::agentd {

inline constexpr const char* kCacheHelperArgument = "--cache-helper";

// Opens the running executable so that helpers can be started from it later; false with the
// reason when it cannot.
bool prepareCacheHelper(std::string& why);

// Runs an Authenticate or SetWithCache request in a helper with the given identity, bounded by
// timeout (the helper is killed then).
agentproto::Reply runCacheHelper(const agentproto::Request& request, uid_t uid, gid_t gid, const RealmSettings& realm,
                                 std::chrono::milliseconds timeout);

// The helper's side: argv is {program, kCacheHelperArgument, realm, domain}. Returns the exit status.
int cacheHelperMain(int argc, char** argv);

}  // namespace vesk::agentd
