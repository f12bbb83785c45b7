// The agent client against agents that misbehave: missing, stopped, hung, closing or speaking
// another protocol. Every failure is an IPCException naming the socket, within the set time.
#include "local_rpc_session.h"

#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "agent_protocol.h"
#include "agent_socket.h"
#include "exceptions.h"
#include "props.h"

namespace vesk {
namespace {

using Clock = std::chrono::steady_clock;

constexpr long kConnectTimeoutMs = 300;
constexpr long kReplyTimeoutMs = 500;
// Slack for a loaded machine; the limits themselves are what the client must keep.
constexpr long kSlackMs = 1500;

UniqueFd listenOn(const std::string& path, int backlog) {
  UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  EXPECT_EQ(bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << std::strerror(errno);
  EXPECT_EQ(listen(fd.get(), backlog), 0);
  return fd;
}

// Reads the client's whole request, so that what the fake agent does next is what the client sees:
// closing with unread bytes would reset the connection instead, and answering first would race
// the client's send.
void readRequest(int fd) {
  agentproto::InFrame frame;
  int errorNumber = 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(kReplyTimeoutMs);
  EXPECT_EQ(agentproto::readFrame(fd, frame, deadline, deadline, errorNumber), agentproto::IoStatus::Ok);
}

class LocalRpcSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char directory[] = "/tmp/agent-client-test-XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    directory_ = directory;
    socket_ = directory_ + "/daemon";
    const std::string settings = directory_ + "/kestrova.conf";
    std::ofstream(settings) << "agent.socket: " << socket_ << "\nagent.connect.timeout.ms: " << kConnectTimeoutMs
                            << "\nagent.reply.timeout.ms: " << kReplyTimeoutMs << "\n";
    setenv("KESTROVA_CONF", settings.c_str(), 1);
    Props(true);
  }
  void TearDown() override {
    if (server_.joinable()) server_.join();
    unlink(socket_.c_str());
    unlink((directory_ + "/kestrova.conf").c_str());
    rmdir(directory_.c_str());
  }

  // A fake agent that accepts one connection and hands it to behaviour.
  void serveOnce(std::function<void(int)> behaviour) {
    listener_ = listenOn(socket_, 4);
    server_ = std::thread([this, behaviour] {
      UniqueFd connection(accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
      if (connection.valid()) behaviour(connection.get());
    });
  }

  // Runs call, which must throw IPCException; returns its text and checks the time it took.
  std::string expectIpcFailure(const std::function<void()>& call, long limitMs) {
    const auto start = Clock::now();
    try {
      call();
    } catch (const IPCException& e) {
      const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
      EXPECT_LT(elapsed, limitMs + kSlackMs) << e.what();
      EXPECT_NE(std::string(e.what()).find(socket_), std::string::npos) << e.what();
      return e.what();
    }
    ADD_FAILURE() << "no IPCException";
    return std::string();
  }

  std::string directory_;
  std::string socket_;
  UniqueFd listener_;
  std::thread server_;
};

TEST_F(LocalRpcSessionTest, MissingOrStoppedAgentFailsAtOnceWithPathAndReason) {
  std::string text = expectIpcFailure([] { LocalRpcSession session("/var/kestrova/daemon", false, false); }, 0);
  EXPECT_NE(text.find("No such file or directory"), std::string::npos) << text;
  // A socket file left behind by an agent that stopped.
  { UniqueFd stale = listenOn(socket_, 1); }
  text = expectIpcFailure([] { LocalRpcSession session("/var/kestrova/daemon", false, false); }, 0);
  EXPECT_NE(text.find("Connection refused"), std::string::npos) << text;
}

TEST_F(LocalRpcSessionTest, AgentThatNeverAcceptsFailsWithinTheConnectTime) {
  UniqueFd listener = listenOn(socket_, 0);
  std::vector<UniqueFd> queued;
  for (int i = 0; i < 16; ++i) {
    int error = 0;
    UniqueFd fd = agentproto::connectUnix(socket_, Clock::now(), error);
    if (!fd.valid()) break;
    queued.push_back(std::move(fd));
  }
  const std::string text =
      expectIpcFailure([] { LocalRpcSession session("/var/kestrova/daemon", false, false); }, kConnectTimeoutMs);
  EXPECT_NE(text.find("not accepting connections within 300 ms"), std::string::npos) << text;
}

TEST_F(LocalRpcSessionTest, AgentThatNeverAnswersFailsWithinTheReplyTimeAndClosesTheSession) {
  listener_ = listenOn(socket_, 4);  // connections wait in the queue; nobody reads them
  LocalRpcSession session("/var/kestrova/daemon", false, false);
  const auto start = Clock::now();
  const std::string text =
      expectIpcFailure([&] { session.validatePlainTextUser("alice", Shredder("pw"), false); }, kReplyTimeoutMs);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(kReplyTimeoutMs));
  EXPECT_NE(text.find("no reply within 500 ms"), std::string::npos) << text;
  EXPECT_THROW(session.getUser("alice", UNIX_ONLY), IPCException);
}

TEST_F(LocalRpcSessionTest, AgentThatClosesOrAnswersGarbageRaisesIpcException) {
  serveOnce(readRequest);
  {
    LocalRpcSession session("/var/kestrova/daemon", false, false);
    const std::string text =
        expectIpcFailure([&] { session.changePassword("alice", Shredder("n"), Shredder("o"), false); }, kReplyTimeoutMs);
    EXPECT_NE(text.find("closed the connection"), std::string::npos) << text;
  }
  server_.join();
  unlink(socket_.c_str());
  serveOnce([](int fd) {
    readRequest(fd);
    agentproto::Reply reply;
    SecretBytes frame;
    std::string why;
    agentproto::encodeReply(reply, frame, why);
    frame[5] = 7;  // another protocol version
    send(fd, frame.data(), frame.size(), MSG_NOSIGNAL);
  });
  {
    LocalRpcSession session("/var/kestrova/daemon", false, false);
    const std::string text = expectIpcFailure([&] { session.getUser("alice", UNIX_ONLY); }, kReplyTimeoutMs);
    EXPECT_NE(text.find("unsupported protocol version"), std::string::npos) << text;
  }
  server_.join();
  unlink(socket_.c_str());
  // An error text that would move the terminal's cursor: never shown, the reply is refused.
  serveOnce([](int fd) {
    readRequest(fd);
    const std::string text = "bad\x1b[2J";
    std::string payload = std::string("\0\0\0\x15\0\0\0\0", 8) + '\0' + static_cast<char>(text.size()) + text +
                          std::string("\0\0", 2);
    std::string frame = std::string("KSTV\0\x01\x01\0", 8) + std::string(3, '\0') + static_cast<char>(payload.size());
    frame += payload;
    send(fd, frame.data(), frame.size(), MSG_NOSIGNAL);
  });
  LocalRpcSession session("/var/kestrova/daemon", false, false);
  const std::string text = expectIpcFailure([&] { session.getUser("alice", UNIX_ONLY); }, kReplyTimeoutMs);
  EXPECT_NE(text.find("malformed"), std::string::npos) << text;
}

}  // namespace
}  // namespace vesk
