// Running an operation with a time limit the Kerberos library does not offer.
#pragma once

#include <chrono>
#include <functional>
#include <optional>

#include "agent_protocol.h"

namespace vesk::agentd {

// Runs work on a worker thread (kept from earlier work when one is idle) and waits for it at most
// timeout. Work that is still running then is left to finish in the background (the library gives
// up on a silent server by itself) and nullopt is returned. At most kMaxOutstandingWork such
// leftovers exist at once; beyond that, or when no worker can be had, work is refused at once
// with nullopt and busy set.
std::optional<agentproto::Reply> runBounded(std::chrono::milliseconds timeout, std::function<agentproto::Reply()> work,
                                            bool& busy);

// The number of leftover operations still running.
std::size_t outstandingWork();

// Waits up to timeout for the leftovers to finish; true when none is left.
bool drainOutstandingWork(std::chrono::milliseconds timeout);

inline constexpr std::size_t kMaxOutstandingWork = 64;

}  // namespace vesk::agentd
