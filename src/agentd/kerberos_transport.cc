#include "kerberos_transport.h"

#include <netdb.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "unique_fd.h"

namespace vesk::agentd {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxReply = 1 << 20;
constexpr std::size_t kMaxDatagram = 65536;

struct Attempt {
  std::size_t server = 0;
  UniqueFd fd;
  bool tcp = false;
  bool connected = false;
  std::string out;  // TCP: the frame still to write
  std::string in;   // TCP: the reply frame read so far
  Clock::time_point started;
  bool sent = false;     // a byte of the message left
  bool failed = false;   // refused, reset, or unreadable
  bool replied = false;  // a whole reply came
  std::string reply;
};

// Splits "host", "host:port", "[v6]:port" or a bare IPv6 address; false for forms not spoken here.
bool splitEntry(std::string entry, int defaultPort, std::string& host, std::string& port) {
  for (const char* prefix : {"tcp/", "udp/"}) {
    if (entry.rfind(prefix, 0) == 0) entry.erase(0, 4);
  }
  if (entry.empty() || entry.find('/') != std::string::npos || entry.find(' ') != std::string::npos) return false;
  port = std::to_string(defaultPort);
  if (entry[0] == '[') {
    const auto close = entry.find(']');
    if (close == std::string::npos) return false;
    host = entry.substr(1, close - 1);
    if (close + 1 < entry.size()) {
      if (entry[close + 1] != ':') return false;
      port = entry.substr(close + 2);
    }
  } else if (std::count(entry.begin(), entry.end(), ':') == 1) {
    const auto colon = entry.find(':');
    host = entry.substr(0, colon);
    port = entry.substr(colon + 1);
  } else {
    host = entry;
  }
  return !host.empty() && !port.empty();
}

std::string numericName(const sockaddr* address, socklen_t length) {
  char host[NI_MAXHOST];
  char port[NI_MAXSERV];
  if (getnameinfo(address, length, host, sizeof host, port, sizeof port, NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
    return "?";
  }
  return address->sa_family == AF_INET6 ? std::string("[") + host + "]:" + port : std::string(host) + ":" + port;
}

bool softError(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

// Starts one attempt: false when the message maker abandons the exchange.
bool start(Attempt& attempt, const KerberosServer& server, const MessageMaker& makeMessage) {
  attempt.started = Clock::now();
  const int type = (attempt.tcp ? SOCK_STREAM : SOCK_DGRAM) | SOCK_NONBLOCK | SOCK_CLOEXEC;
  attempt.fd.reset(socket(server.address.ss_family, type, 0));
  if (!attempt.fd.valid() ||
      (connect(attempt.fd.get(), reinterpret_cast<const sockaddr*>(&server.address), server.length) != 0 &&
       errno != EINPROGRESS)) {
    attempt.failed = true;
    return true;
  }
  std::string message;
  if (!makeMessage(attempt.server, attempt.fd.get(), message)) return false;
  if (attempt.tcp) {
    const auto size = static_cast<std::uint32_t>(message.size());
    const char frame[4] = {static_cast<char>(size >> 24), static_cast<char>(size >> 16), static_cast<char>(size >> 8),
                           static_cast<char>(size)};
    attempt.out.assign(frame, 4);
    attempt.out += message;
    return true;
  }
  if (send(attempt.fd.get(), message.data(), message.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(message.size())) {
    attempt.failed = true;
  } else {
    attempt.sent = true;
  }
  return true;
}

// Moves a TCP attempt along; true when its reply is complete.
bool stepTcp(Attempt& attempt, short events) {
  if (!attempt.out.empty()) {
    if (!attempt.connected) {
      int error = 0;
      socklen_t size = sizeof error;
      if (getsockopt(attempt.fd.get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
        attempt.failed = true;
        return false;
      }
      attempt.connected = true;
    }
    const ssize_t written = send(attempt.fd.get(), attempt.out.data(), attempt.out.size(), MSG_NOSIGNAL);
    if (written < 0) {
      attempt.failed = !softError(errno);
      return false;
    }
    attempt.sent = true;
    attempt.out.erase(0, static_cast<std::size_t>(written));
    return false;
  }
  if ((events & (POLLIN | POLLHUP | POLLERR)) == 0) return false;
  char buffer[8192];
  const long frame = attempt.in.size() >= 4
                         ? tcpFrameLength(reinterpret_cast<const unsigned char*>(attempt.in.data()))
                         : 0;
  const std::size_t wanted = attempt.in.size() < 4 ? 4 - attempt.in.size()
                                                   : static_cast<std::size_t>(frame) + 4 - attempt.in.size();
  const ssize_t got = recv(attempt.fd.get(), buffer, std::min(wanted, sizeof buffer), 0);
  if (got <= 0) {
    attempt.failed = got == 0 || !softError(errno);
    return false;
  }
  attempt.in.append(buffer, static_cast<std::size_t>(got));
  if (attempt.in.size() < 4) return false;
  const long length = tcpFrameLength(reinterpret_cast<const unsigned char*>(attempt.in.data()));
  if (length < 0) {
    attempt.failed = true;
    return false;
  }
  return attempt.in.size() == static_cast<std::size_t>(length) + 4;
}

// Reads a UDP attempt's datagram; true with reply when one came.
bool stepUdp(Attempt& attempt, std::string& reply) {
  std::string buffer(kMaxDatagram, '\0');
  const ssize_t got = recv(attempt.fd.get(), buffer.data(), buffer.size(), 0);
  if (got < 0) {
    attempt.failed = !softError(errno);
    return false;
  }
  buffer.resize(static_cast<std::size_t>(got));
  reply = std::move(buffer);
  return true;
}

}  // namespace

long tcpFrameLength(const unsigned char* header) {
  const unsigned long length = (static_cast<unsigned long>(header[0]) << 24) |
                               (static_cast<unsigned long>(header[1]) << 16) |
                               (static_cast<unsigned long>(header[2]) << 8) | header[3];
  // The top bit is reserved for an extension no server uses.
  if (length == 0 || length > kMaxReply) return -1;
  return static_cast<long>(length);
}

std::vector<KerberosServer> resolveServers(const std::vector<std::string>& entries, int defaultPort, const char* kind) {
  std::vector<KerberosServer> servers;
  for (const std::string& entry : entries) {
    std::string host;
    std::string port;
    if (!splitEntry(entry, defaultPort, host, port)) continue;
    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) continue;
    for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
      if (a->ai_addrlen > sizeof(sockaddr_storage)) continue;
      KerberosServer server;
      std::memcpy(&server.address, a->ai_addr, a->ai_addrlen);
      server.length = a->ai_addrlen;
      server.name = std::string(kind) + " " + numericName(a->ai_addr, a->ai_addrlen);
      const bool known = std::any_of(servers.begin(), servers.end(),
                                     [&server](const KerberosServer& s) { return s.name == server.name; });
      if (!known) servers.push_back(std::move(server));
    }
    freeaddrinfo(found);
  }
  return servers;
}

TransportAnswer exchange(const std::vector<KerberosServer>& servers, const MessageMaker& makeMessage,
                         const TransportLimits& limits, ServerHealth& health, const ReplyJudge& final) {
  TransportAnswer answer;
  std::vector<std::string> names;
  for (const auto& server : servers) names.push_back(server.name);
  const std::vector<std::size_t> order = health.order(names);
  std::vector<Attempt> attempts;
  attempts.reserve(order.size());
  std::size_t next = 0;
  Clock::time_point nextStart = Clock::now();
  const Attempt* settled = nullptr;
  const Attempt* firstReply = nullptr;
  const auto open = [&attempts] {
    return static_cast<std::size_t>(
        std::count_if(attempts.begin(), attempts.end(), [](const Attempt& a) { return !a.failed && !a.replied; }));
  };
  while (settled == nullptr) {
    const Clock::time_point now = Clock::now();
    if (now >= limits.deadline) break;
    // After a reply that is not final, no one else is asked.
    if (firstReply == nullptr && next < order.size() && (now >= nextStart || open() == 0)) {
      attempts.emplace_back();
      Attempt& attempt = attempts.back();
      attempt.server = order[next++];
      attempt.tcp = limits.tcp;
      nextStart = now + limits.perServerWait;
      if (!start(attempt, servers[attempt.server], makeMessage)) {
        answer.outcome = TransportAnswer::kAbandoned;
        break;
      }
      continue;
    }
    if (open() == 0) break;
    Clock::time_point wake = limits.deadline;
    if (firstReply == nullptr && next < order.size()) wake = std::min(wake, nextStart);
    std::vector<pollfd> polled;
    std::vector<Attempt*> polledAttempts;
    for (Attempt& attempt : attempts) {
      if (attempt.failed || attempt.replied) continue;
      polled.push_back(pollfd{attempt.fd.get(), static_cast<short>(attempt.out.empty() ? POLLIN : POLLOUT), 0});
      polledAttempts.push_back(&attempt);
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(wake - now).count();
    const int ready = poll(polled.data(), polled.size(), static_cast<int>(std::max<long long>(wait, 1)));
    if (ready < 0 && errno != EINTR) break;
    const std::size_t failedBefore = attempts.size() - open();
    for (std::size_t i = 0; ready > 0 && i < polled.size() && settled == nullptr; ++i) {
      if (polled[i].revents == 0) continue;
      Attempt& attempt = *polledAttempts[i];
      if (attempt.tcp ? stepTcp(attempt, polled[i].revents) : stepUdp(attempt, attempt.reply)) {
        if (attempt.tcp) attempt.reply = attempt.in.substr(4);
        attempt.replied = true;
        if (firstReply == nullptr) firstReply = &attempt;
        if (!final || final(attempt.server, attempt.reply)) settled = &attempt;
      }
    }
    // A server that refused makes way for the next at once.
    if (attempts.size() - open() > failedBefore) nextStart = Clock::now();
    // Replies none of which is final on its own settle the exchange once every server that got the
    // message has answered: the first one stands. One that took the message and went quiet (or
    // reset) may have acted on it, and leaves the exchange unsettled.
    const bool lostAfterSending =
        std::any_of(attempts.begin(), attempts.end(), [](const Attempt& a) { return a.failed && a.sent; });
    if (settled == nullptr && firstReply != nullptr && open() == 0 && !lostAfterSending) settled = firstReply;
  }
  // Every server that replied is alive; one is held back when it failed, or had its whole wait
  // and did not answer in it.
  const Clock::time_point end = Clock::now();
  for (const Attempt& attempt : attempts) {
    answer.anySent = answer.anySent || attempt.sent;
    if (attempt.replied) {
      health.answered(servers[attempt.server].name);
    } else if (attempt.failed || end - attempt.started >= limits.perServerWait) {
      health.silent(servers[attempt.server].name);
    }
  }
  if (settled != nullptr) {
    answer.outcome = TransportAnswer::kAnswered;
    answer.server = settled->server;
    answer.reply = settled->reply;
  }
  return answer;
}

}  // namespace vesk::agentd
