// The agent's own transport of Kerberos messages (KDC and password-change): every message is sent
// by the agent with its own deadlines instead of the library's fixed waits.
//
// Servers are tried in the order the server health gives. The first gets the message; when it has
// not answered within the per-server wait, the next one gets it too, and so on, while every
// attempt started stays open: the first answer from any of them is taken. A server that refuses
// (a reset connection, an unreachable port) makes way for the next at once. Over UDP a message is
// one datagram; over TCP it is framed by a four-byte length, as both protocols frame it. Once a
// reply has come, no further server is asked.
#pragma once

#include <sys/socket.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "server_health.h"

namespace vesk::agentd {

struct KerberosServer {
  std::string name;  // "kdc 127.0.0.1:88": the kind, the address
  sockaddr_storage address{};
  socklen_t length = 0;
};

// The addresses of configured server entries ("host", "host:port", "[v6addr]:port", with an
// optional "tcp/" or "udp/" before them; other forms are skipped), named with kind.
std::vector<KerberosServer> resolveServers(const std::vector<std::string>& entries, int defaultPort, const char* kind);

struct TransportLimits {
  std::chrono::milliseconds perServerWait{1000};
  std::chrono::steady_clock::time_point deadline;
  bool tcp = false;
};

// Makes the message for one server once its socket exists (fd is connected or connecting, so the
// local address is known). False abandons the whole exchange: nothing more is sent to anyone.
using MessageMaker = std::function<bool(std::size_t server, int fd, std::string& message)>;

// Whether a server's reply settles the exchange on its own (nullptr: every reply does). A reply that
// does not (a password server's refusal) settles it only once every server that got the message
// has replied: another may have acted on it.
using ReplyJudge = std::function<bool(std::size_t server, const std::string& reply)>;

struct TransportAnswer {
  enum Outcome { kAnswered, kNoAnswer, kAbandoned };
  Outcome outcome = kNoAnswer;
  std::size_t server = 0;  // which one answered (an index of the servers given)
  std::string reply;
  bool anySent = false;  // whether a message left for any server
};

TransportAnswer exchange(const std::vector<KerberosServer>& servers, const MessageMaker& makeMessage,
                         const TransportLimits& limits, ServerHealth& health, const ReplyJudge& final = nullptr);

// The size of a TCP reply frame from its first four bytes, or -1 when the frame is not one.
long tcpFrameLength(const unsigned char* header);

}  // namespace vesk::agentd
