// A domain controller's extended error, foreign bytes that an MIT realm never sends: the agent
// finds the NTSTATUS in the encodings a domain controller uses and nothing in malformed ones.
#include <gtest/gtest.h>

#include <string>

#include "agent_protocol.h"
#include "kerberos_client.h"
#include "kerberos_results.h"

namespace vesk::agentd {
namespace {

std::string bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

class ExtendedErrorTest : public ::testing::Test {};

TEST_F(ExtendedErrorTest, StatusIsFoundInEveryEncodingAndNotInMalformedBytes) {
  const std::string status = bytes({0x34, 0x02, 0x00, 0xc0, 0, 0, 0, 0, 1, 0, 0, 0});  // locked out
  const std::string entryBody = bytes({0xa1, 0x03, 0x02, 0x01, 0x03, 0xa2, 0x0e, 0x04, 0x0c}) + status;
  const std::string methodData = bytes({0x30, 0x17, 0x30, 0x15}) + entryBody;
  const std::string typedData =
      bytes({0x30, 0x17, 0x30, 0x15, 0xa0, 0x03, 0x02, 0x01, 0x03, 0xa1, 0x0e, 0x04, 0x0c}) + status;
  // An entry of another type before the status entry is skipped.
  const std::string saltFirst =
      bytes({0x30, 0x25, 0x30, 0x0c, 0xa1, 0x03, 0x02, 0x01, 0x13, 0xa2, 0x05, 0x04, 0x03, 'a', 'b', 'c', 0x30, 0x15}) +
      entryBody;
  for (const std::string& edata : {methodData, bytes({0x30, 0x15}) + entryBody, typedData, saltFirst}) {
    EXPECT_EQ(extendedErrorStatus(edata), std::optional<std::uint32_t>(kStatusLockedOut));
  }
  for (const std::string& edata :
       {std::string(), bytes({0x30}), bytes({0x30, 0x7f, 0x30}), bytes({0x30, 0x84, 0xff, 0xff, 0xff, 0xff}),
        methodData.substr(0, methodData.size() - 1), bytes({0x04, 0x02, 0x00, 0x00})}) {
    EXPECT_EQ(extendedErrorStatus(edata), std::nullopt) << edata.size();
  }
}

// A domain controller's refusal carries its policy as a binary block: minimum length 7, history 24,
// complexity on, maximum age 42 days, minimum age 1 day (ages in 100 ns units).
TEST_F(ExtendedErrorTest, RecordedDirectoryPolicyBlockIsRenderedReadably) {
  const std::uint64_t day = 864000000000ull;
  std::string block = bytes({0, 0, 0, 0, 0, 7, 0, 0, 0, 24, 0, 0, 0, 1});
  for (std::uint64_t value : {42 * day, day}) {
    for (int shift = 56; shift >= 0; shift -= 8) block += static_cast<char>((value >> shift) & 0xff);
  }
  const std::string text = passwordServerMessage(block);
  for (const char* part : {"at least 7 characters", "previous 24 passwords", "numbers or symbols", "once a day"}) {
    EXPECT_NE(text.find(part), std::string::npos) << part << " missing in: " << text;
  }
  EXPECT_TRUE(agentproto::isPrintableText(text)) << text;
  EXPECT_EQ(passwordServerMessage("Password is too short\n"), "Password is too short");
}

}  // namespace
}  // namespace vesk::agentd
