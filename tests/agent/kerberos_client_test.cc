// What the agent reads from a domain controller's refusal, which an MIT realm never sends: a
// recorded answer through the Kerberos library, and extended errors of foreign bytes.
#include "kerberos_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "kerberos_results.h"

namespace vesk::agentd {
namespace {

// A KRB-ERROR as a domain controller sends it for a refused AS request: error 18
// (KDC_ERR_CLIENT_REVOKED) for aduser@FAKE.TEST, whose e-data is a METHOD-DATA with one PA-DATA
// of type 3 holding a KERB-EXT-ERROR: NTSTATUS 0xC0000234 (locked out), reserved 0, flags 1.
constexpr const char* kRecordedError =
    "7e8196308193a003020105a10302011ea411180f32303233313131343232313332305aa503020100a603020112a70b1b"
    "0946414b452e54455354a8133011a003020101a10a30081b06616475736572a90b1b0946414b452e54455354aa1e301c"
    "a003020102a11530131b066b72627467741b0946414b452e54455354ac1b041930173015a103020103a20e040c"
    "340200c00000000001000000";
constexpr const char* kRecordedStatus = "340200c0";

std::string fromHex(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

// The recorded error with another NTSTATUS in its e-data.
std::string recordedErrorWithStatus(std::uint32_t status) {
  std::string hex = kRecordedError;
  char little[9];
  std::snprintf(little, sizeof little, "%02x%02x%02x%02x", status & 0xff, (status >> 8) & 0xff, (status >> 16) & 0xff,
                status >> 24);
  hex.replace(hex.rfind(kRecordedStatus), 8, little);
  return fromHex(hex);
}

// Answers every UDP datagram on 127.0.0.1 with one fixed message.
class FakeKdc {
 public:
  FakeKdc() {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t size = sizeof address;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~FakeKdc() {
    stop_ = true;
    thread_.join();
    close(fd_);
  }
  int port() const { return port_; }
  void answerWith(std::string message) {
    std::lock_guard<std::mutex> guard(mutex_);
    answer_ = std::move(message);
  }

 private:
  void serve() {
    while (!stop_) {
      pollfd entry = {fd_, POLLIN, 0};
      if (poll(&entry, 1, 50) <= 0) continue;
      char buffer[4096];
      sockaddr_in peer = {};
      socklen_t size = sizeof peer;
      if (recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&peer), &size) <= 0) continue;
      std::lock_guard<std::mutex> guard(mutex_);
      sendto(fd_, answer_.data(), answer_.size(), 0, reinterpret_cast<sockaddr*>(&peer), size);
    }
  }

  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::string answer_;
  std::thread thread_;
};

class KerberosClientTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    kdc_ = new FakeKdc();
    char directory[] = "/tmp/kerberos-client-test-XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    directory_ = directory;
    const std::string config = directory_ + "/krb5.conf";
    std::ofstream out(config);
    out << "[libdefaults]\n default_realm = FAKE.TEST\n dns_lookup_kdc = false\n dns_lookup_realm = false\n"
        << " udp_preference_limit = 4096\n\n[realms]\n FAKE.TEST = {\n  kdc = 127.0.0.1:" << kdc_->port()
        << "\n }\n";
    out.close();
    setenv("KRB5_CONFIG", config.c_str(), 1);
    setenv("KRB5RCACHEDIR", directory_.c_str(), 1);
  }
  static void TearDownTestSuite() {
    delete kdc_;
    std::remove((directory_ + "/krb5.conf").c_str());
    rmdir(directory_.c_str());
  }

  static FakeKdc* kdc_;
  static std::string directory_;
};

FakeKdc* KerberosClientTest::kdc_ = nullptr;
std::string KerberosClientTest::directory_;

TEST_F(KerberosClientTest, ValidateReadsTheDirectoryStatusOfARecordedError) {
  const KerberosClient client(RealmSettings{"FAKE.TEST", "fake.test"});
  struct Case {
    std::uint32_t status;
    int expected;
  };
  for (const Case& c : {Case{kStatusLockedOut, 3}, Case{kStatusAccountDisabled, 3}, Case{kStatusAccountExpired, 7},
                        Case{kStatusPasswordExpired, 4}, Case{kStatusMustChange, 4},
                        Case{kStatusWorkstationDenied, 8}}) {
    SCOPED_TRACE(c.status);
    kdc_->answerWith(recordedErrorWithStatus(c.status));
    const agentproto::Reply reply = client.validate("aduser", Shredder("Any-Passw0rd"));
    EXPECT_EQ(reply.result, c.expected) << reply.errorText;
    EXPECT_EQ(reply.errorCode, krb5code::kClientRevoked);
  }
  // A status the agent does not know leaves "revoked" meaning a disabled account.
  kdc_->answerWith(recordedErrorWithStatus(0xC0000001));
  EXPECT_EQ(client.validate("aduser", Shredder("Any-Passw0rd")).result, 3);
}

TEST_F(KerberosClientTest, MalformedExtendedErrorsGiveNoStatus) {
  const std::string edata = fromHex(std::string(kRecordedError).substr(std::string(kRecordedError).rfind("30173015")));
  ASSERT_EQ(extendedErrorStatus(edata), std::optional<std::uint32_t>(kStatusLockedOut));
  for (const std::string& bad : {std::string(), fromHex("30"), fromHex("307f30"), fromHex("3084ffffffff"),
                                 edata.substr(0, edata.size() - 1), fromHex("04020000")}) {
    EXPECT_EQ(extendedErrorStatus(bad), std::nullopt) << bad.size();
  }
}

}  // namespace
}  // namespace vesk::agentd
