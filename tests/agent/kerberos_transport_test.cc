// The agent's own Kerberos transport and password protocol, without a KDC: servers on 127.0.0.1
// that never answer, answer late or answer at once; password-protocol bytes laid out by hand.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "kerberos_transport.h"
#include "kpasswd_protocol.h"
#include "unique_fd.h"

namespace vesk::agentd {
namespace {

using std::chrono::milliseconds;

std::string bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

// A TCP server on 127.0.0.1 that takes one connection and, after delay (never when negative),
// answers its one frame with the frame reversed.
class TcpServer {
 public:
  explicit TcpServer(milliseconds delay) : listener_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    EXPECT_EQ(bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), length), 0);
    EXPECT_EQ(listen(listener_.get(), 4), 0);
    EXPECT_EQ(getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &length), 0);
    server_.address = {};
    std::memcpy(&server_.address, &address, length);
    server_.length = length;
    server_.name = "kdc 127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    if (delay.count() >= 0) thread_ = std::thread([this, delay] { serve(delay); });
  }
  ~TcpServer() {
    if (thread_.joinable()) thread_.join();
  }
  const KerberosServer& server() const { return server_; }

 private:
  void serve(milliseconds delay) {
    UniqueFd connection(accept(listener_.get(), nullptr, nullptr));
    unsigned char header[4];
    char body[64];
    if (recv(connection.get(), header, sizeof header, MSG_WAITALL) != 4 || header[3] > sizeof body) return;
    if (recv(connection.get(), body, header[3], MSG_WAITALL) != header[3]) return;
    std::string reply(body, header[3]);
    std::reverse(reply.begin(), reply.end());
    reply = bytes({0, 0, 0, static_cast<int>(reply.size())}) + reply;
    std::this_thread::sleep_for(delay);
    send(connection.get(), reply.data(), reply.size(), MSG_NOSIGNAL);
  }
  UniqueFd listener_;
  KerberosServer server_;
  std::thread thread_;
};

class KerberosTransportTest : public ::testing::Test {};

TEST_F(KerberosTransportTest, SilentServersAreLeftBehindAndALateAnswerOfTheFirstIsStillTaken) {
  const MessageMaker ping = [](std::size_t, int, std::string& message) {
    message = "ping";
    return true;
  };
  TransportLimits limits;
  limits.perServerWait = milliseconds(100);
  limits.tcp = true;
  {
    // The first answers only after the second was asked: its answer is taken all the same.
    TcpServer late(milliseconds(400));
    TcpServer silent(milliseconds(-1));
    ServerHealth health;
    limits.deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    const TransportAnswer answer = exchange({late.server(), silent.server()}, ping, limits, health);
    EXPECT_EQ(answer.outcome, TransportAnswer::kAnswered);
    EXPECT_EQ(answer.server, 0u);
    EXPECT_EQ(answer.reply, "gnip");
    EXPECT_EQ(health.order({silent.server().name, late.server().name}), (std::vector<std::size_t>{1, 0}));
  }
  {
    // A reply that is not final on its own (a password server's refusal) while another server that
    // got the message stays silent: the other may have acted on it, so there is no answer.
    TcpServer refusing(milliseconds(300));
    TcpServer silent(milliseconds(-1));
    ServerHealth health;
    limits.deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    const auto refusal = [](std::size_t, const std::string&) { return false; };
    const TransportAnswer answer = exchange({refusing.server(), silent.server()}, ping, limits, health, refusal);
    EXPECT_EQ(answer.outcome, TransportAnswer::kNoAnswer);
    EXPECT_TRUE(answer.anySent);
  }
  TcpServer silent(milliseconds(-1));
  TcpServer live(milliseconds(0));
  ServerHealth health;
  limits.deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  const TransportAnswer answer = exchange({silent.server(), live.server()}, ping, limits, health);
  EXPECT_EQ(answer.outcome, TransportAnswer::kAnswered);
  EXPECT_EQ(answer.server, 1u);
  // The silent one is tried last from now on; the one that answered first.
  EXPECT_EQ(health.order({silent.server().name, live.server().name}), (std::vector<std::size_t>{1, 0}));
  const auto entries = health.entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_NE(entries[0].silent, entries[1].silent);

  // A maker that refuses (the caller has its answer) ends the exchange with nothing sent.
  TcpServer unused(milliseconds(-1));
  limits.deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  const TransportAnswer abandoned =
      exchange({unused.server()}, [](std::size_t, int, std::string&) { return false; }, limits, health);
  EXPECT_EQ(abandoned.outcome, TransportAnswer::kAbandoned);
  EXPECT_FALSE(abandoned.anySent);
}

TEST_F(KerberosTransportTest, PasswordProtocolBytes) {
  // ChangePasswdData { newpasswd "pw", targname { 1, ["bob"] }, targrealm "R" }
  const Shredder data = setPasswordData("pw", 1, {"bob"}, "R");
  EXPECT_EQ(data.view(), bytes({0x30, 0x1d, 0xa0, 0x04, 0x04, 0x02, 'p', 'w', 0xa1, 0x10, 0x30, 0x0e, 0xa0, 0x03,
                                0x02, 0x01, 0x01, 0xa1, 0x07, 0x30, 0x05, 0x1b, 0x03, 'b', 'o', 'b', 0xa2, 0x03,
                                0x1b, 0x01, 'R'}));
  EXPECT_EQ(kpasswdRequestFrame(0xff80, "AP", "PRIV"), bytes({0, 12, 0xff, 0x80, 0, 2, 'A', 'P', 'P', 'R', 'I', 'V'}));

  KpasswdReplyParts parts;
  ASSERT_TRUE(splitKpasswdReply(bytes({0, 10, 0, 1, 0, 2, 'R', 'P', 'X', 'Y'}), parts));
  EXPECT_EQ(parts.version, 1u);
  EXPECT_EQ(parts.apRep, "RP");
  EXPECT_EQ(parts.body, "XY");
  // A server that answers with a bare KRB-ERROR; frames whose lengths disagree.
  ASSERT_TRUE(splitKpasswdReply(bytes({0x7e, 4, 1, 2, 3, 4}), parts));
  EXPECT_TRUE(parts.apRep.empty());
  for (const std::string& bad : {bytes({0, 10, 0, 1, 0, 2, 'R', 'P'}), bytes({0, 8, 0, 1, 0, 9, 'R', 'P'}),
                                 bytes({0, 8, 0, 1, 0, 2, 'R', 'P'}), bytes({0, 1})}) {
    EXPECT_FALSE(splitKpasswdReply(bad, parts)) << bad.size();
  }
  int code = -1;
  std::string text;
  ASSERT_TRUE(parseKpasswdResult(bytes({0, 4, 't', 'o', 'o', ' ', 's', 'h', 'o', 'r', 't'}), code, text));
  EXPECT_EQ(code, 4);
  EXPECT_EQ(text, "too short");
  EXPECT_FALSE(parseKpasswdResult(bytes({0}), code, text));
}

}  // namespace
}  // namespace vesk::agentd
